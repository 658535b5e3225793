#include "SectionAssembler.h"

#include "platform/ByteReader.h"
#include "platform/Constants.h"

namespace {
// The kernel's section buffer holds a maximum section plus one packet.
constexpr size_t kBufferLimit = SectionAssembler::kMaxSection + ids::kTsPacketSize;
}  // namespace

size_t NextTsPacket(const uint8_t* data, size_t size, size_t pos) {
    for (; pos < size && size - pos >= ids::kTsPacketSize; ++pos)
        if (data[pos] == ids::kTsSyncByte) return pos;
    return size;
}

bool ParseTsPacket(const uint8_t* packet, TsPacketInfo& info) {
    info = TsPacketInfo();
    ByteReader r(packet, ids::kTsPacketSize);
    if (r.U8() != ids::kTsSyncByte) return false;
    uint16_t word = r.U16();
    uint8_t flags = r.U8();
    info.pid = word & 0x1FFF;
    info.unitStart = (word & 0x4000) != 0;
    info.continuity = flags & 0x0F;
    if (flags & 0x20) {
        uint8_t afLength = r.U8();
        if (afLength > 183) return true;  // corrupt: no payload, no PCR
        ByteReader af = r.Sub(afLength);
        if (afLength > 0) {
            uint8_t afFlags = af.U8();
            info.discontinuity = (afFlags & 0x80) != 0;
            if (afFlags & 0x10) {
                uint32_t high = af.U32();
                uint8_t low = af.U8();
                if (af.Ok()) info.pcr = (int64_t(high) << 1) | (low >> 7);
            }
        }
    }
    if ((flags & 0x10) && r.Ok() && r.Remaining() > 0) {
        info.payload = r.Current();
        info.payloadSize = r.Remaining();
    }
    return true;
}

int64_t PesPtsOf(const uint8_t* payload, size_t size) {
    ByteReader r(payload, size);
    if (r.U24() != 0x000001) return -1;
    uint8_t streamId = r.U8();
    // Stream ids without the optional header (ISO/IEC 13818-1 Table 2-22).
    if (streamId == 0xBC || streamId == 0xBE || streamId == 0xBF || streamId == 0xF0 ||
        streamId == 0xF1 || streamId == 0xF2 || streamId == 0xF8 || streamId == 0xFF)
        return -1;
    r.Skip(2);
    uint8_t b6 = r.U8();
    uint8_t b7 = r.U8();
    r.Skip(1);
    uint8_t b9 = r.U8();
    uint16_t mid = r.U16();
    uint16_t low = r.U16();
    if (!r.Ok() || (b6 & 0xC0) != 0x80 || !(b7 & 0x80)) return -1;
    return (int64_t((b9 >> 1) & 0x07) << 30) | (int64_t(mid >> 1) << 15) | int64_t(low >> 1);
}

uint32_t SectionCrc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void SectionAssembler::Reset() {
    NewSection();
    started_ = false;
    lastCc_ = -1;
}

void SectionAssembler::NewSection() {
    buf_.clear();
    pos_ = 0;
}

void SectionAssembler::Feed(const TsPacketInfo& packet, const Callback& onSection) {
    if (!packet.payload) return;  // packets without payload leave the counter alone
    bool ccOk = lastCc_ >= 0 && ((lastCc_ + 1) & 0x0F) == packet.continuity;
    lastCc_ = packet.continuity;
    if (!ccOk || packet.discontinuity) {
        // A lost or repeated packet: the section in progress is incomplete.
        started_ = false;
        NewSection();
    }
    ByteReader r(packet.payload, packet.payloadSize);
    if (!packet.unitStart) {
        Append(r.Current(), r.Remaining(), onSection);
        return;
    }
    uint8_t pointer = r.U8();
    if (r.Remaining() == 0 || pointer > r.Remaining()) {
        // A pointer past the payload: nothing here can be placed.
        started_ = false;
        NewSection();
        return;
    }
    ByteReader before = r.Sub(pointer);
    Append(before.Current(), before.Size(), onSection);
    started_ = true;
    NewSection();
    Append(r.Current(), r.Remaining(), onSection);
}

void SectionAssembler::Append(const uint8_t* data, size_t size, const Callback& onSection) {
    if (size == 0) return;
    if (buf_.size() + size > kBufferLimit) {
        // More bytes than any section holds: drop them and wait for a start.
        started_ = false;
        NewSection();
        return;
    }
    buf_.insert(buf_.end(), data, data + size);
    while (buf_.size() - pos_ >= 3) {
        ByteReader header(buf_.data() + pos_, buf_.size() - pos_);
        uint8_t tableId = header.U8();
        if (tableId == 0xFF) return;  // stuffing: the rest of the payload is filler
        size_t total = 3 + (header.U16() & 0x0FFF);
        if (total > kMaxSection || total > buf_.size() - pos_) return;
        if (started_) onSection(buf_.data() + pos_, total);
        pos_ += total;
    }
}
