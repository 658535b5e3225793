// The decoding tables against straightforward references over every byte.
#include <gtest/gtest.h>

#include "teletext/TeletextTables.h"

namespace {

int Bit(unsigned v, int i) { return (v >> i) & 1; }

// EN 300 706 §8.2 decoding by its four parity tests A..D (b1 = bit 0):
// all pass, no error; D fails, one error, corrected by the syndrome of A..C;
// D passes but another test fails, two errors.
int ReferenceHamming(unsigned b) {
    int b1 = Bit(b, 0), b2 = Bit(b, 1), b3 = Bit(b, 2), b4 = Bit(b, 3);
    int b5 = Bit(b, 4), b6 = Bit(b, 5), b7 = Bit(b, 6), b8 = Bit(b, 7);
    int a = b1 ^ b2 ^ b6 ^ b8;
    int bb = b2 ^ b3 ^ b4 ^ b8;
    int c = b2 ^ b4 ^ b5 ^ b6;
    int d = b1 ^ b2 ^ b3 ^ b4 ^ b5 ^ b6 ^ b7 ^ b8;
    int d1 = b2, d2 = b4, d3 = b6, d4 = b8;
    if (a && bb && c && d) return d1 | d2 << 1 | d3 << 2 | d4 << 3;
    if (d) return 0xFF;  // overall parity right but a check failed: two errors
    // One bit wrong. The failing checks name it: A,B,C fail together for
    // D1 (b2); A,B for D4 (b8); B,C for D2 (b4); A,C for D3 (b6); a single
    // failing check, or none, is a parity bit and leaves the data.
    if (!a && !bb && !c) d1 ^= 1;
    else if (!a && !bb) d4 ^= 1;
    else if (!bb && !c) d2 ^= 1;
    else if (!a && !c) d3 ^= 1;
    return d1 | d2 << 1 | d3 << 2 | d4 << 3;
}

}  // namespace

TEST(TeletextTables, EveryByteAgainstItsReference) {
    for (unsigned b = 0; b < 256; ++b) {
        unsigned reversed = 0;
        for (int i = 0; i < 8; ++i) reversed |= unsigned(Bit(b, i)) << (7 - i);
        EXPECT_EQ(teletext::ReverseBits(uint8_t(b)), reversed) << b;

        int ones = 0;
        for (int i = 0; i < 8; ++i) ones += Bit(b, i);
        EXPECT_EQ(teletext::OddParity(uint8_t(b)), (ones % 2) ? (b & 0x7F) : 0x20u) << b;

        EXPECT_EQ(teletext::Hamming84(uint8_t(b)), ReferenceHamming(b)) << b;

        // The same decodings of the byte as transmitted (bits reversed).
        EXPECT_EQ(teletext::Hamming84OfTransmitted(uint8_t(reversed)), ReferenceHamming(b)) << b;
        EXPECT_EQ(teletext::OddParityOfTransmitted(uint8_t(reversed)), (ones % 2) ? (b & 0x7F) : 0x20u) << b;
    }
}

TEST(TeletextTables, HammingCorrectsOneBitAndRejectsTwo) {
    // The codewords of the standard's table for 0, 1 and 15.
    EXPECT_EQ(teletext::HammingEncode84(0), 0x15);
    EXPECT_EQ(teletext::HammingEncode84(1), 0x02);
    EXPECT_EQ(teletext::HammingEncode84(15), 0xEA);
    int rejected = 0;
    for (unsigned v = 0; v < 16; ++v) {
        uint8_t code = teletext::HammingEncode84(v);
        EXPECT_EQ(teletext::Hamming84(code), v);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(teletext::Hamming84(uint8_t(code ^ (1 << i))), v);
            for (int j = i + 1; j < 8; ++j) {
                EXPECT_EQ(teletext::Hamming84(uint8_t(code ^ (1 << i) ^ (1 << j))), teletext::kHammingError);
                ++rejected;
            }
        }
    }
    EXPECT_EQ(rejected, 16 * 28);
}
