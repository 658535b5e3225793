// The one reader every broadcast parser goes through. It is a window on
// bytes that were received; every read is checked against the end of that
// window and fails cleanly (returns false, or 0 with Ok() false) instead of
// reading past it. Once a read has failed the reader stays failed, so a
// parser can read a whole header and test Ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    size_t Size() const { return size_; }
    size_t Position() const { return pos_; }
    size_t Remaining() const { return size_ - pos_; }
    bool Ok() const { return ok_; }
    bool AtEnd() const { return pos_ >= size_; }

    uint8_t U8() {
        if (!Need(1)) return 0;
        return data_[pos_++];
    }
    uint16_t U16() {
        if (!Need(2)) return 0;
        uint16_t v = uint16_t((data_[pos_] << 8) | data_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    uint32_t U24() {
        if (!Need(3)) return 0;
        uint32_t v = (uint32_t(data_[pos_]) << 16) | (uint32_t(data_[pos_ + 1]) << 8) | data_[pos_ + 2];
        pos_ += 3;
        return v;
    }
    uint32_t U32() {
        if (!Need(4)) return 0;
        uint32_t v = (uint32_t(data_[pos_]) << 24) | (uint32_t(data_[pos_ + 1]) << 16) |
                     (uint32_t(data_[pos_ + 2]) << 8) | data_[pos_ + 3];
        pos_ += 4;
        return v;
    }
    // The byte `offset` ahead of the position, without consuming it; 0 and
    // false from Has() when it lies outside the window (does not fail the reader).
    bool Has(size_t count) const { return ok_ && count <= Remaining(); }
    uint8_t PeekAt(size_t offset) const { return offset < Remaining() ? data_[pos_ + offset] : 0; }

    bool Skip(size_t count) {
        if (!Need(count)) return false;
        pos_ += count;
        return true;
    }
    // Copies `count` bytes out; fails (copying nothing) when they are not all there.
    bool Copy(uint8_t* out, size_t count) {
        if (!Need(count)) return false;
        if (count > 0) std::memcpy(out, data_ + pos_, count);
        pos_ += count;
        return true;
    }
    // A reader over the next `count` bytes, which this one skips. When fewer
    // remain, the sub-reader covers what is there and this reader fails.
    ByteReader Sub(size_t count) {
        size_t n = count <= Remaining() ? count : Remaining();
        ByteReader sub(data_ + pos_, ok_ ? n : 0);
        if (!Need(count)) {
            pos_ = size_;
            return sub;
        }
        pos_ += count;
        return sub;
    }
    // Pointer to the current position, valid for Remaining() bytes.
    const uint8_t* Current() const { return data_ + pos_; }

private:
    bool Need(size_t count) {
        if (!ok_ || count > Remaining()) {
            ok_ = false;
            return false;
        }
        return true;
    }

    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    bool ok_ = true;
};
