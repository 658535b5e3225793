// Reads fixed-width groups of bits (2, 4 or 8), most significant first, from
// a byte buffer of known size. Past the end it returns 0 and notes the
// overrun instead of reading on: a run-length code string read past its end
// therefore meets its end-of-string code (all codes of zeros) and stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct bitstream {
    const unsigned char* data;  // the current byte
    int bitsLeft;               // unread bits of the current byte
    int bytesUsed;              // bytes completely consumed
    int size;                   // bytes that may be read from the start
    int overrun;                // 1 once a read went past `size`
};

void bitstream_init(bitstream* bs, const unsigned char* data, int size);

// A read of W bits (known when compiled): the pixel decoders' inner loops,
// on a bitstream of their own that the compiler keeps in registers.
template <int W>
inline unsigned bitstream_get_fixed(bitstream* bs) {
    static_assert(W == 2 || W == 4 || W == 8, "widths that divide a byte");
    if (bs->bytesUsed >= bs->size) {
        bs->overrun = 1;
        return 0;
    }
    bs->bitsLeft -= W;
    const unsigned value = (unsigned(*bs->data) >> bs->bitsLeft) & ((1u << W) - 1);
    if (bs->bitsLeft == 0) {
        bs->data++;
        bs->bitsLeft = 8;
        bs->bytesUsed++;
    }
    return value;
}

// The next 32 to 64 bits of a byte buffer in one word, most significant
// first, for a decoder that looks at several codes at once. Past the end
// the window holds zeros; Overrun tells whether a read took any of them,
// as bitstream's reads past the end do.
class BitWindow {
public:
    BitWindow(const unsigned char* data, int size) : data_(data), size_(size > 0 ? size_t(size) : 0) { Refill(); }
    // The next 32 bits (refilled first when fewer are in the window).
    uint32_t Peek32() {
        if (have_ < 32) Refill();
        return uint32_t(window_ >> 32);
    }
    // Takes `bits` (at most 32) after a Peek32.
    void Skip(int bits) {
        window_ <<= bits;
        have_ -= bits;
    }
    // Bits taken so far, zeros past the end included.
    size_t Used() const { return taken_ * 8 - size_t(have_); }
    bool Overrun() const { return Used() > size_ * 8; }

private:
    void Refill() {
        if (taken_ + 8 <= size_) {
            uint64_t v;
            std::memcpy(&v, data_ + taken_, sizeof v);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            v = __builtin_bswap64(v);  // the first byte to the top
#endif
            // Off a byte boundary this brings in part of the byte after
            // the last one taken, below the bits counted: the next refill
            // ORs the same bits there.
            window_ |= v >> have_;
            const int bytes = (64 - have_) >> 3;
            taken_ += size_t(bytes);
            have_ += bytes * 8;
            return;
        }
        for (; have_ <= 56; have_ += 8, ++taken_)
            window_ |= uint64_t(taken_ < size_ ? data_[taken_] : 0) << (56 - have_);
    }
    const unsigned char* const data_;
    const size_t size_;
    uint64_t window_ = 0;
    int have_ = 0;       // bits in the window
    size_t taken_ = 0;   // bytes moved into the window, zeros past the end counted
};
