// Level 1.5 page enhancement (EN 300 706 §12.3): the X/26 packets of a page
// put characters that the page's national subset lacks over the row bytes:
// G2 characters and G0 letters with a diacritical mark, at an active
// position that row and column address triplets move.
//
// Triplets are protected by Hamming 24/18 (EN 300 706 §8.3); the decoding
// tables are built at compile time from that rule.
#pragma once

#include <array>
#include <cstdint>

namespace teletext {

// A triplet that has no codeword within one bit.
constexpr uint32_t kTripletError = 0xFFFFFFFFu;

namespace detail {

// EN 300 706 §8.3, with the first transmitted bit b1 as bit 0 of a 24-bit
// word: data bits D1..D18 sit at b3, b5-b7, b9-b15, b17-b23; P1..P5 at b1,
// b2, b4, b8, b16 give odd parity over the positions whose number has that
// bit set (P1 over b1, b3, b5, ...), and P6 at b24 odd parity over all 24.
constexpr int kDataPosition[18] = {3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19, 20, 21, 22, 23};

constexpr int Parity(uint32_t v) {
    int n = 0;
    for (; v != 0; v >>= 1) n ^= int(v & 1);
    return n;
}

// The positions check k covers (k = 0..4), and all 24 for the sixth.
constexpr uint32_t CheckMask(int k) {
    if (k == 5) return 0xFFFFFFu;
    uint32_t mask = 0;
    for (int p = 1; p <= 23; ++p)
        if (p & (1 << k)) mask |= 1u << (p - 1);
    return mask;
}

constexpr uint32_t Encode2418(uint32_t data) {
    uint32_t w = 0;
    for (int i = 0; i < 18; ++i)
        if (data & (1u << i)) w |= 1u << (kDataPosition[i] - 1);
    for (int k = 0; k < 5; ++k)
        if (!Parity(w & CheckMask(k))) w |= 1u << ((1 << k) - 1);
    if (!Parity(w)) w |= 1u << 23;
    return w;
}

// Which checks a word fails, as bits 0..5: zero for a codeword.
constexpr unsigned Syndrome(uint32_t w) {
    unsigned s = 0;
    for (int k = 0; k < 6; ++k)
        if (!Parity(w & CheckMask(k))) s |= 1u << k;
    return s;
}

constexpr uint32_t DataBits(uint32_t w) {
    uint32_t d = 0;
    for (int i = 0; i < 18; ++i)
        if (w & (1u << (kDataPosition[i] - 1))) d |= 1u << i;
    return d;
}

// What each syndrome means: no error (0), the data bit to flip, no data to
// flip (a check bit was hit), or kTripletError. Built by flipping every bit
// of a codeword in turn; every syndrome no single flip gives is two errors.
constexpr std::array<uint32_t, 64> MakeCorrection() {
    std::array<uint32_t, 64> t{};
    for (auto& e : t) e = kTripletError;
    t[0] = 0;
    const uint32_t zero = Encode2418(0);
    for (int bit = 0; bit < 24; ++bit) t[Syndrome(zero ^ (1u << bit))] = DataBits(1u << bit);
    return t;
}

// The checks (as failing checks of an all-zero word) and the data bits one
// byte of the triplet contributes; both are linear in the bits, so the
// contributions of the three bytes combine by XOR and OR.
struct ByteTables {
    std::array<uint8_t, 256> checks[3];
    std::array<uint32_t, 256> data[3];
};
constexpr ByteTables MakeByteTables() {
    ByteTables t{};
    for (int k = 0; k < 3; ++k)
        for (uint32_t v = 0; v < 256; ++v) {
            uint32_t w = v << (8 * k);
            t.checks[k][v] = uint8_t(Syndrome(w) ^ 0x3F);  // the checks it passes
            t.data[k][v] = DataBits(w);
        }
    return t;
}

}  // namespace detail

inline constexpr std::array<uint32_t, 64> kTripletCorrection = detail::MakeCorrection();
inline constexpr detail::ByteTables kTripletBytes = detail::MakeByteTables();

// The 18 data bits of a triplet (three bytes in logical bit order), with a
// single wrong bit corrected, or kTripletError.
inline uint32_t Hamming2418(uint8_t b0, uint8_t b1, uint8_t b2) {
    unsigned passed = kTripletBytes.checks[0][b0] ^ kTripletBytes.checks[1][b1] ^ kTripletBytes.checks[2][b2];
    uint32_t fix = kTripletCorrection[passed ^ 0x3F];
    if (fix == kTripletError) return kTripletError;
    return (kTripletBytes.data[0][b0] | kTripletBytes.data[1][b1] | kTripletBytes.data[2][b2]) ^ fix;
}
// The codeword of 18 data bits as a 24-bit word (the transmitting side).
constexpr uint32_t HammingEncode2418(uint32_t data) { return detail::Encode2418(data & 0x3FFFF); }

// The Unicode letter of Latin G2 character `code` (0x20-0x7F).
uint16_t LatinG2(unsigned code);
// A Latin G0 character without national subset (0x20-0x7F) under the
// diacritical mark `mark` (X/26 mode - 0x10, 0 for none): the precomposed
// letter where Unicode has one, else the letter itself.
uint16_t ComposeLatin(unsigned mark, unsigned code);

// The X/26 packets of one page as received: up to 16 packets (designation
// code 0..15) of 13 triplets, kept in logical bit order.
struct PageEnhancement {
    static constexpr int kPackets = 16;
    static constexpr int kTriplets = 13;
    uint32_t triplets[kPackets][kTriplets];
    uint16_t present = 0;  // bit d: the packet of designation code d arrived

    void Clear() { present = 0; }
    // Takes the 40 data bytes of an X/26 packet (logical bit order). A
    // packet whose designation code is uncorrectable is dropped; an
    // uncorrectable triplet is kept as kTripletError and skipped later.
    void Store(const uint8_t* data);
};

// Runs the enhancements over a page of `rows` x 40 characters (page rows
// 1..rows): writes into `characters` the Unicode letter each enhanced
// position shows, and 0 where the row byte stands.
void ApplyEnhancement(const PageEnhancement& enhancement, uint16_t (*characters)[40], int rows);

}  // namespace teletext
