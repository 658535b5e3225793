// The three byte-decoding rules of Teletext reception, each held as a table
// built at compile time from its rule (nothing here is typed in as numbers):
//   - bit reversal (EN 300 472 carries each byte with its first transmitted
//     bit in the most significant position),
//   - Hamming 8/4 decoding with single-bit correction (EN 300 706 §8.2),
//   - odd-parity check of a 7-bit character (EN 300 706 §8.1).
#pragma once

#include <array>
#include <cstdint>

namespace teletext {

// Value of a Hamming 8/4 byte that is neither a codeword nor one bit away
// from one.
constexpr uint8_t kHammingError = 0xFF;
// What a character with a parity error becomes in the page buffer.
constexpr uint8_t kParityErrorCharacter = 0x20;

namespace detail {

constexpr int PopCount(unsigned v) {
    int n = 0;
    for (; v != 0; v >>= 1) n += int(v & 1);
    return n;
}

// Reverses the four bits of a nibble: bit 0 <-> 3, 1 <-> 2.
constexpr unsigned ReverseNibble(unsigned n) {
    unsigned r = 0;
    for (int i = 0; i < 4; ++i)
        if (n & (1u << i)) r |= 1u << (3 - i);
    return r;
}

// The high nibble of a byte lands reversed in the low nibble and vice versa.
constexpr std::array<uint8_t, 16> MakeReverseOfHigh() {
    std::array<uint8_t, 16> t{};
    for (unsigned n = 0; n < 16; ++n) t[n] = uint8_t(ReverseNibble(n));
    return t;
}
constexpr std::array<uint8_t, 16> MakeReverseOfLow() {
    std::array<uint8_t, 16> t{};
    for (unsigned n = 0; n < 16; ++n) t[n] = uint8_t(ReverseNibble(n) << 4);
    return t;
}

// EN 300 706 §8.2: the codeword of the 4-bit value D1..D4, with the first
// transmitted bit b1 as bit 0. b1 = P1, b2 = D1, b3 = P2, b4 = D2, b5 = P3,
// b6 = D3, b7 = P4, b8 = D4; P1..P3 give odd parity over their check sets
// and P4 gives odd parity over the whole byte.
constexpr unsigned HammingEncode(unsigned value) {
    unsigned d1 = value & 1, d2 = (value >> 1) & 1, d3 = (value >> 2) & 1, d4 = (value >> 3) & 1;
    unsigned p1 = 1 ^ d1 ^ d3 ^ d4;
    unsigned p2 = 1 ^ d1 ^ d2 ^ d4;
    unsigned p3 = 1 ^ d1 ^ d2 ^ d3;
    unsigned seven = p1 | d1 << 1 | p2 << 2 | d2 << 3 | p3 << 4 | d3 << 5 | d4 << 7;
    unsigned p4 = (PopCount(seven) & 1) ? 0 : 1;
    return seven | p4 << 6;
}

// A byte decodes to the value whose codeword is at most one bit away; the
// codewords lie four bits apart, so that value is unique when it exists.
constexpr std::array<uint8_t, 256> MakeHamming84() {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        t[b] = kHammingError;
        for (unsigned v = 0; v < 16; ++v)
            if (PopCount(b ^ HammingEncode(v)) <= 1) t[b] = uint8_t(v);
    }
    return t;
}

constexpr std::array<uint8_t, 256> MakeOddParity() {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        t[b] = (PopCount(b) & 1) ? uint8_t(b & 0x7F) : kParityErrorCharacter;
    return t;
}

constexpr unsigned ReverseByte(unsigned b) { return ReverseNibble(b >> 4) | ReverseNibble(b & 0x0F) << 4; }

// A table of the byte as transmitted: `logical` looked up with the byte's
// bits reversed first, so that reception reads a data unit without a
// separate reversal pass.
constexpr std::array<uint8_t, 256> OfTransmitted(const std::array<uint8_t, 256>& logical) {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) t[b] = logical[ReverseByte(b)];
    return t;
}

}  // namespace detail

inline constexpr std::array<uint8_t, 16> kReverseOfHighNibble = detail::MakeReverseOfHigh();
inline constexpr std::array<uint8_t, 16> kReverseOfLowNibble = detail::MakeReverseOfLow();
inline constexpr std::array<uint8_t, 256> kHamming84 = detail::MakeHamming84();
inline constexpr std::array<uint8_t, 256> kOddParity = detail::MakeOddParity();
inline constexpr std::array<uint8_t, 256> kHamming84OfTransmitted = detail::OfTransmitted(kHamming84);
inline constexpr std::array<uint8_t, 256> kOddParityOfTransmitted = detail::OfTransmitted(kOddParity);

inline uint8_t ReverseBits(uint8_t b) { return kReverseOfHighNibble[b >> 4] | kReverseOfLowNibble[b & 0x0F]; }
inline uint8_t Hamming84(uint8_t b) { return kHamming84[b]; }
inline uint8_t OddParity(uint8_t b) { return kOddParity[b]; }
// The same two decodings of a byte as it arrives in an EBU data unit (first
// transmitted bit in the most significant position).
inline uint8_t Hamming84OfTransmitted(uint8_t b) { return kHamming84OfTransmitted[b]; }
inline uint8_t OddParityOfTransmitted(uint8_t b) { return kOddParityOfTransmitted[b]; }
// The Hamming 8/4 codeword of a 4-bit value (the transmitting side; used by
// the test stream builders).
constexpr uint8_t HammingEncode84(unsigned value) { return uint8_t(detail::HammingEncode(value & 0x0F)); }

}  // namespace teletext
