// Pixel code strings, map tables, line ends and fields, and the copy of
// finished lines into the regions that place an object.
#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <random>
#include <vector>

#include "dvbsub/DvbSubFixture.h"
#include "dvbsub/bitstream.h"

namespace {

class PixelDataTest : public DvbSubFixture {
protected:
    // Page 1, region 0 of 800 x 6 (wider than the screen), object 1 at (0, 0).
    void SetUp() override {
        DvbSubFixture::SetUp();
        Feed(Concat({Page(0, 1, 0, 0), RegionComposition(1, SimpleRegion(800, 6))}));
    }
    const unsigned char* Row(int row) { return FindRegion(1, 0)->pixels + row * 800; }
    // Each {row, column, code} the region holds.
    void ExpectCodes(std::initializer_list<std::array<int, 3>> cells) {
        for (const auto& c : cells) EXPECT_EQ(Row(c[0])[c[1]], c[2]) << "row " << c[0] << ", column " << c[1];
    }
};

// A received map table holds to the end of its pixel-data sub-block, the
// field (EN 300 743 §7.2.5.1); the next field starts on the default.
TEST_F(PixelDataTest, TwoBitStringsGoThroughTheMapTableUntilTheFieldEnds) {
    const PixelData top = PixelData()
                              .String2({{1, 1}, {1, 2}, {1, 3}, {2, 0}, {12, 1}, {30, 3}})
                              .EndOfLine()
                              .Map2To4(1, 2, 3, 4)
                              .String2({{1, 0}, {3, 1}, {1, 3}})
                              .EndOfLine()
                              .String2({{1, 1}})
                              .EndOfLine();
    Feed(Object(top, PixelData().String2({{1, 1}}).EndOfLine()));
    // Default map of EN 300 743 §10.4: 0, 7, 8, 15.
    ExpectCodes({{0, 0, 7}, {0, 1, 8}, {0, 2, 15}, {0, 3, 0}, {0, 16, 7}, {0, 46, 15}, {0, 47, 0}});
    // The received map, codes 0 and runs included.
    ExpectCodes({{2, 0, 1}, {2, 3, 2}, {2, 4, 4}});
    // The next line still uses it; the bottom field is back on the default.
    EXPECT_EQ(Row(4)[0], 2);
    EXPECT_EQ(Row(1)[0], 7);
}

TEST_F(PixelDataTest, FourAndEightBitStrings) {
    const PixelData top = PixelData()
                              .String4({{1, 5}, {3, 0}, {9, 7}, {25, 0xC}, {300, 1}})
                              .EndOfLine()
                              .String4({{3, 9}})
                              .String8({{1, 0x37}, {2, 0}, {4, 0xA5}, {200, 0}, {1, 0xFF}})
                              .EndOfLine()
                              .Line4({{4, 2}});
    EXPECT_EQ(Logged(Object(top, PixelData().Line4({{2, 6}}))),
              "TEKO: ERROR: 8-bit pixel string in a 4-bit region: rest of the field dropped.\n");
    ExpectCodes({{0, 0, 5}, {0, 1, 0}, {0, 4, 7}, {0, 13, 12}, {0, 337, 1}, {0, 338, 0}});
    // No 4-bit region can hold 8-bit codes (they map only up): the string
    // is foreign bytes. The line so far stays, the rest of its field goes;
    // the other field is decoded.
    ExpectCodes({{2, 2, 9}, {2, 3, 0}, {4, 0, 0}, {1, 1, 6}});
}

// Streaks of single pixels of non-zero codes, the bulk of text, broken by
// runs of 0 at every alignment, up to and past the region's edge.
TEST_F(PixelDataTest, StreaksOfNonZeroCodesUpToTheRegionEdge) {
    std::vector<dvbsub::Run> runs;
    std::vector<unsigned char> expected;
    for (int i = 0; expected.size() < 812; ++i) {
        const int zeros = i % 23 == 22 ? 3 + i % 5 : 0;
        const int code = zeros ? 0 : 1 + i % 15;
        runs.push_back({zeros ? zeros : 1, code});
        expected.insert(expected.end(), size_t(zeros ? zeros : 1), (unsigned char)code);
    }
    Feed(Object(PixelData().Line4(runs), PixelData().EndOfLine()));
    expected.resize(800);
    EXPECT_EQ(std::vector<unsigned char>(Row(0), Row(0) + 800), expected);
}

// One object in regions of 4, 2 and 8 bits: codes of a lower depth than a
// region go through the map table of the pair, and only then; codes of a
// higher depth keep their top bits.
TEST_F(PixelDataTest, EachRegionDepthGetsItsOwnCodes) {
    Region r2 = SimpleRegion(8, 2, 1);
    r2.regionId = 1, r2.depth = 1;
    Region r8 = SimpleRegion(8, 2, 1);
    r8.regionId = 2, r8.depth = 3;
    Feed(Concat({RegionComposition(1, r2), RegionComposition(1, r8)}));
    Bytes map4to8;
    for (int i = 0; i < 16; ++i) map4to8.push_back(uint8_t(0x80 + i));
    const PixelData top = PixelData()
                              .String2({{1, 1}, {1, 2}, {1, 3}})
                              .Map2To8({0x10, 0x20, 0x30, 0x40})
                              .String2({{1, 1}})
                              .String4({{1, 5}})
                              .Map4To8(map4to8)
                              .String4({{1, 5}})
                              .String8({{1, 0xC4}})
                              .EndOfLine();
    Feed(Object(top, PixelData().String2({{1, 1}}).String4({{1, 5}}).EndOfLine()));
    const Bytes four{7, 8, 15, 7, 5, 5, 12}, two{1, 2, 3, 1, 1, 1, 3}, eight{0x77, 0x88, 0xFF, 0x20, 0x55, 0x85, 0xC4};
    const subtitle_region* r1 = FindRegion(1, 1);
    const subtitle_region* r3 = FindRegion(1, 2);
    for (size_t i = 0; i < four.size(); ++i) {
        EXPECT_EQ(Row(0)[i], four[i]) << i;
        EXPECT_EQ(r1->pixels[i], two[i]) << i;
        EXPECT_EQ(r3->pixels[i], eight[i]) << i;
    }
    // The bottom field starts on the default map tables again.
    EXPECT_EQ(r3->pixels[8], 0x77);
    EXPECT_EQ(r3->pixels[9], 0x55);
}

TEST_F(PixelDataTest, RunsStopAtTheRegionEdgeAndTheNextLineStartsAtZero) {
    const PixelData top =
        PixelData().String4({{780, 1}, {50, 2}, {1, 3}}).EndOfLine().String4({{2, 4}}).EndOfLine();
    Feed(Object(top, PixelData().EndOfLine()));
    EXPECT_EQ(Row(0)[720], 1);  // the line is as wide as the region, not the screen
    ExpectCodes({{0, 799, 2}, {2, 0, 4}, {2, 2, 0}});
}

TEST_F(PixelDataTest, FieldsFillEvenAndOddLines) {
    const PixelData top = PixelData().Line4({{1, 1}}).Line4({{1, 2}}).Line4({{1, 3}});
    const PixelData bottom = PixelData().Line4({{1, 4}}).Line4({{1, 5}}).Line4({{1, 6}});
    Feed(Object(top, bottom));
    for (int row = 0; row < 6; ++row) EXPECT_EQ(Row(row)[0], row % 2 ? 4 + row / 2 : 1 + row / 2);
    // Without bottom field data the top field serves both (EN 300 743 §7.2.5).
    Feed(ObjectData(1, 1, PixelData().Line4({{1, 7}}).Line4({{1, 8}}).Data(), {}));
    ExpectCodes({{0, 0, 7}, {1, 0, 7}, {3, 0, 8}});
}

TEST_F(PixelDataTest, LinesGoToEveryPlacementThatHoldsThem) {
    // Region 0 (800 x 6) places the object again lower down, region 1 (4 x 10) once.
    Region r0 = SimpleRegion(800, 6, 1);
    r0.objects = {{1, 0, 4}, {1, 798, 0}, {1, 2, 0}};
    Region r1 = SimpleRegion(4, 10);
    r1.regionId = 1;
    Feed(Concat({RegionComposition(1, r0), RegionComposition(1, r1)}));
    const PixelData top = PixelData().Line4({{5, 1}}).Line4({{5, 2}}).Line4({{5, 3}}).Line4({{5, 4}});
    Feed(Object(top, PixelData()));
    // No bottom field data: the top field's lines serve the odd rows too.
    // The first placement runs out of rows at line 2; the others still get it.
    EXPECT_EQ(Row(4)[0], 1);
    EXPECT_EQ(Row(5)[0], 1);
    EXPECT_EQ(Row(0)[799], 1);  // clipped at the region's right edge
    EXPECT_EQ(Row(0)[2], 1);
    EXPECT_EQ(Row(4)[6], 3);  // the third placement, line 4
    EXPECT_EQ(Row(4)[7], 0);
    // Line 6 lies below region 0 but region 1 still gets it.
    const subtitle_region* r = FindRegion(1, 1);
    EXPECT_EQ(r->pixels[6 * 4 + 3], 4);
    EXPECT_EQ(r->pixels[8 * 4], 0);
}

TEST_F(PixelDataTest, SubBlockSizesAndInvalidTypes) {
    subtitle_page* page = subtitle_find_page(&ctx, 1);
    int line = 0, column = 0;
    const Bytes maps = Concat({{0x20, 0x12, 0x34}, {0x21, 1, 2, 3, 4}, Bytes(1, 0x22), Bytes(16, 9)});
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, maps.data(), 25), 3);
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, maps.data() + 3, 22), 5);
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, maps.data() + 8, 17), 17);
    const Bytes eol{0xF0};
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, eol.data(), 1), 1);
    EXPECT_EQ(line, 2);
    // An invalid data type is a damaged byte: skipped (and said once a
    // field), and the rest of the object and the packet still count.
    const PixelData damaged = PixelData().Raw({0x13, 0x77}).Line4({{3, 5}}).Raw({0x13}).Line4({{2, 6}});
    const std::string log = Logged(Concat({Page(1, 1, 0, 0), RegionComposition(1, SimpleRegion(800, 6)),
                                           Object(damaged, PixelData().Line4({{1, 1}})), EndOfDisplaySet(1)}));
    EXPECT_NE(log.find("TEKO: subtitle_process_pixel_data: invalid data_type 13\n"), std::string::npos);
    EXPECT_EQ(log.find("invalid data_type 13"), log.rfind("invalid data_type"));
    EXPECT_EQ(log.find("Strange data"), std::string::npos);
    EXPECT_EQ(Row(0)[2], 5);
    EXPECT_EQ(Row(2)[1], 6);
    EXPECT_EQ(display.blits.size(), 1u);
}

TEST_F(PixelDataTest, PixelDataNeverReadsPastItsField) {
    // A 4-bit string with no end code, cut by its field: decoding stops there.
    const Bytes cut{0x11, 0x11, 0x11};
    EXPECT_EQ(Logged(ObjectData(1, 1, cut, {0xF0})), "TEKO: ERROR: Pixel data runs past its field.\n");
    // A map table cut short is not applied.
    subtitle_page* page = subtitle_find_page(&ctx, 1);
    std::unique_ptr<unsigned char[]> map(new unsigned char[2]{0x20, 0x55});
    int line = 0, column = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, map.get(), 2), 2);
    testing::internal::GetCapturedStderr();
    // Fields longer than the segment are cut to it.
    Bytes seg = ObjectData(1, 1, PixelData().Line4({{2, 9}}).Data(), {});
    seg[9] = 0x40;  // top field length 0x40xx
    EXPECT_EQ(Logged(seg), "TEKO: ERROR: Object data fields (16388 + 0) run past the segment (4).\n");
    EXPECT_EQ(Row(0)[1], 9);
}

// The 4-bit strings as EN 300 743 §7.2.5.2 reads them, a code at a time:
// the codes (cut at `width`) and the bytes the string took, its
// data_type byte included, or the field's length when it ran past it.
int ReadFourBitString(const std::vector<unsigned char>& data, int width, std::vector<int>& codes) {
    bitstream bs;
    bitstream_init(&bs, data.data() + 1, int(data.size()) - 1);
    const auto put = [&](int n, unsigned code) {
        for (; n > 0 && int(codes.size()) < width; --n) codes.push_back(int(code));
    };
    while (!bs.overrun) {
        const unsigned code = bitstream_get_fixed<4>(&bs);
        if (code) {
            put(1, code);
            continue;
        }
        const unsigned v = bitstream_get_fixed<4>(&bs);
        if (!(v & 8)) {
            if (!(v & 7)) break;
            put(int(v & 7) + 2, 0);
        } else if (!(v & 4)) {
            const int run = int(v & 3) + 4;
            put(run, bitstream_get_fixed<4>(&bs));
        } else if ((v & 3) == 0 || (v & 3) == 1) {
            put(int(v & 3) + 1, 0);
        } else if ((v & 3) == 2) {
            const int run = int(bitstream_get_fixed<4>(&bs)) + 9;
            put(run, bitstream_get_fixed<4>(&bs));
        } else {
            int run = int(bitstream_get_fixed<4>(&bs)) << 4;
            run |= int(bitstream_get_fixed<4>(&bs));
            put(run + 25, bitstream_get_fixed<4>(&bs));
        }
    }
    if (bs.overrun) return int(data.size());
    return std::min(int(data.size()), 1 + bs.bytesUsed + (bs.bitsLeft != 8));
}

// The decoder reads several codes at a time; whatever the bytes, it must
// give what the plain reading gives, on 4-bit lines (written directly)
// and on 4- and 8-bit ones (through the map table), cut at any width.
TEST(FourBitStrings, ReadAsThePlainCodeByCodeReadingReadsThem) {
    std::mt19937 random(11);
    subtitle_ctx ctx;
    testing::internal::CaptureStderr();  // strings that run past their field are said
    for (int round = 0; round < 20000; ++round) {
        std::vector<unsigned char> data(1 + random() % 40);
        data[0] = 0x11;
        // Mostly non-zero nibbles, as text is, with escapes between them.
        for (size_t i = 1; i < data.size(); ++i) {
            const unsigned hi = random() % 4 ? 1 + random() % 15 : random() % 16;
            const unsigned lo = random() % 4 ? 1 + random() % 15 : random() % 16;
            data[i] = (unsigned char)(hi << 4 | lo);
        }
        subtitle_line& l = ctx.line;
        subtitle_start_field(&ctx);
        l.depths = round % 3 ? 2 : 2 | 4;
        l.width = 1 + int(random() % 120);
        std::vector<int> expected;
        const int used = ReadFourBitString(data, l.width, expected);
        int line = 0, column = 0;
        ASSERT_EQ(subtitle_process_pixel_data(&ctx, nullptr, 1, line, column, data.data(), int(data.size())), used)
            << "round " << round;
        ASSERT_EQ(column, int(expected.size())) << "round " << round;
        for (int x = 0; x < column; ++x) {
            ASSERT_EQ(l.codes[1][x], expected[size_t(x)]) << "round " << round << ", column " << x;
            if (l.depths & 4) {
                ASSERT_EQ(l.codes[2][x], l.map4to8[expected[size_t(x)]]) << "round " << round;
            }
        }
    }
    testing::internal::GetCapturedStderr();
}

TEST(BitStream, ReadsMostSignificantFirstAndReturnsZeroPastTheEnd) {
    const unsigned char bytes[] = {0xB4, 0x0F};
    bitstream bs;
    bitstream_init(&bs, bytes, 2);
    EXPECT_EQ(bitstream_get_fixed<2>(&bs), 2u);
    EXPECT_EQ(bitstream_get_fixed<2>(&bs), 3u);
    EXPECT_EQ(bitstream_get_fixed<4>(&bs), 4u);
    EXPECT_EQ(bs.bytesUsed, 1);
    EXPECT_EQ(bitstream_get_fixed<8>(&bs), 0x0Fu);
    EXPECT_EQ(bs.overrun, 0);
    EXPECT_EQ(bitstream_get_fixed<8>(&bs), 0u);
    EXPECT_EQ(bs.overrun, 1);
    EXPECT_EQ(bs.bytesUsed, 2);
}

}  // namespace
