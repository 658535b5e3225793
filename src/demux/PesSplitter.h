// Cuts a PES byte stream, as a demultiplexer's PES filter hands it over in
// chunks of any size, into packets (ISO/IEC 13818-1 §2.4.3.6): it hunts
// for 00 00 01 BD, keeping how much of it the last bytes matched so that a
// start code split across reads is still found without looking past the
// chunk, then takes PES_packet_length more bytes. The first `Kept` bytes
// of a packet are kept, the rest only counted; a reader that looks at the
// start of packets keeps little.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/ByteReader.h"
#include "platform/Constants.h"

// The largest packet: PES_packet_length 65535 plus the 6 bytes of start
// code, stream id and length.
constexpr size_t kMaxPesPacketSize = 65535 + 6;

template <size_t Kept>
class PesSplitter {
public:
    static_assert(Kept >= 6 && Kept <= kMaxPesPacketSize, "room for the header, no more than a packet");

    // Calls `packet(data, size)` with the kept bytes of each packet that
    // the chunk completes.
    template <typename OnPacket>
    void Feed(const unsigned char* chunk, size_t size, OnPacket&& packet) {
        ByteReader in(chunk, size);
        while (!in.AtEnd()) {
            if (length_ < 4) {
                const uint8_t b = in.U8();
                if (b == kStartCode[length_])
                    kept_[length_++] = b;
                else if (b == 0x00)
                    length_ = length_ == 2 ? 2 : 1;  // "00 00 00" keeps two zeros; "00 00 01 00" one
                else
                    length_ = 0;
                continue;
            }
            if (length_ < 6) {
                kept_[length_++] = in.U8();
                if (length_ == 6) expected_ = ((size_t(kept_[4]) << 8) | kept_[5]) + 6;
            } else {
                size_t take = expected_ - length_;
                if (take > in.Remaining()) take = in.Remaining();
                if (length_ < Kept) {
                    const size_t copy = take < Kept - length_ ? take : Kept - length_;
                    std::memcpy(kept_ + length_, in.Current(), copy);
                }
                in.Skip(take);
                length_ += take;
            }
            if (length_ >= 6 && length_ == expected_) {
                const size_t size = length_ < Kept ? length_ : Kept;
                Reset();
                packet(static_cast<const unsigned char*>(kept_), size);
            }
        }
    }
    // Back to hunting for a start code.
    void Reset() { length_ = expected_ = 0; }

private:
    static constexpr uint8_t kStartCode[4] = {0x00, 0x00, 0x01, ids::kStreamPrivate1};
    unsigned char kept_[Kept];
    size_t length_ = 0;
    size_t expected_ = 0;
};
