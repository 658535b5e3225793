// Teletext packets as a PES packet carries them: the data units of EN 300
// 472 and the packet and page addresses of EN 300 706, read the same by
// the decoder and by the daemon's look at a stream it does not decode.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ByteReader.h"
#include "platform/Constants.h"
#include "teletext/TeletextTables.h"

namespace teletext {

// Two address bytes and 40 data bytes, as transmitted.
constexpr int kPacketBytes = 42;

// EN 300 472 §4: the data units on a 46-byte stride from the start of the
// packet (whose header is stuffed to that end): calls `unit(raw)` with the
// 42 bytes of each EBU Teletext data unit, subtitle or not.
template <typename OnUnit>
void ForEachPacket(const uint8_t* data, size_t size, OnUnit&& unit) {
    ByteReader reader(data, size);
    while (reader.Remaining() >= size_t(ids::kEbuDataUnitStride)) {
        ByteReader d = reader.Sub(ids::kEbuDataUnitStride);
        const uint8_t id = d.U8();
        if ((id != ids::kDataUnitTeletextNonSubtitle && id != ids::kDataUnitTeletextSubtitle) ||
            d.U8() != ids::kEbuDataUnitLength)
            continue;
        d.Skip(2);  // field parity / line offset, framing code
        uint8_t raw[kPacketBytes];
        if (d.Copy(raw, kPacketBytes)) unit(static_cast<const uint8_t*>(raw));
    }
}

// EN 300 706 §7.1.2: the magazine (1-8) and packet number of a packet;
// false when a Hamming 8/4 byte cannot be corrected.
inline bool PacketAddress(const uint8_t* raw, int& magazine, int& packet) {
    const uint8_t a = Hamming84OfTransmitted(raw[0]), b = Hamming84OfTransmitted(raw[1]);
    if (a == kHammingError || b == kHammingError) return false;
    magazine = (a & 7) == 0 ? 8 : (a & 7);
    packet = (a >> 3) | (b << 1);
    return true;
}

// EN 300 706 §9.3.1: the page a header of `magazine` starts, magazine <<
// 8 | tens << 4 | units (0x888 for page 888); false on a Hamming error.
inline bool HeaderPage(const uint8_t* raw, int magazine, int& page) {
    const uint8_t units = Hamming84OfTransmitted(raw[2]), tens = Hamming84OfTransmitted(raw[3]);
    if (units == kHammingError || tens == kHammingError) return false;
    page = (magazine << 8) | (tens << 4) | units;
    return true;
}

}  // namespace teletext
