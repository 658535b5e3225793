// Pixel code strings, map tables, line ends and fields, and the copy of
// finished lines into the regions that place an object.
#include <memory>

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
};

TEST_F(PixelDataTest, TwoBitStringsGoThroughTheMapTableUntilTheLineEnds) {
    const PixelData top = PixelData()
                              .String2({{1, 1}, {1, 2}, {1, 3}, {2, 0}, {12, 1}, {30, 3}})
                              .EndOfLine()
                              .Map2To4(1, 2, 3, 4)
                              .String2({{1, 0}, {3, 1}, {1, 3}})
                              .EndOfLine()
                              .String2({{1, 1}})
                              .EndOfLine();
    Feed(Object(top, PixelData().EndOfLine()));
    // Default map of EN 300 743 §10.4: 0, 7, 8, 15.
    EXPECT_EQ(Row(0)[0], 0xF7);
    EXPECT_EQ(Row(0)[1], 0xF8);
    EXPECT_EQ(Row(0)[2], 0xFF);
    EXPECT_EQ(Row(0)[3], 0xF0);
    EXPECT_EQ(Row(0)[16], 0xF7);
    EXPECT_EQ(Row(0)[46], 0xFF);
    EXPECT_EQ(Row(0)[47], 0);
    // The received map, codes 0 and runs included.
    EXPECT_EQ(Row(2)[0], 0xF1);
    EXPECT_EQ(Row(2)[3], 0xF2);
    EXPECT_EQ(Row(2)[4], 0xF4);
    // The next line is back on the default.
    EXPECT_EQ(Row(4)[0], 0xF7);
}

TEST_F(PixelDataTest, FourAndEightBitStrings) {
    const PixelData top = PixelData()
                              .String4({{1, 5}, {3, 0}, {9, 7}, {25, 0xC}, {300, 1}})
                              .EndOfLine()
                              .String8({{1, 0x37}, {2, 0}, {4, 0xA5}, {200, 0}, {1, 0xFF}})
                              .EndOfLine();
    Feed(Object(top, PixelData().EndOfLine()));
    EXPECT_EQ(Row(0)[0], 0xF5);
    EXPECT_EQ(Row(0)[1], 0xF0);
    EXPECT_EQ(Row(0)[4], 0xF7);
    EXPECT_EQ(Row(0)[13], 0xFC);
    EXPECT_EQ(Row(0)[337], 0xF1);
    EXPECT_EQ(Row(0)[338], 0);
    // 8-bit codes keep their top four bits.
    EXPECT_EQ(Row(2)[0], 0xF3);
    EXPECT_EQ(Row(2)[1], 0xF0);
    EXPECT_EQ(Row(2)[3], 0xFA);
    EXPECT_EQ(Row(2)[207], 0xFF);
}

TEST_F(PixelDataTest, RunsStopAtColumn720AndTheNextLineStartsAtZero) {
    const PixelData top =
        PixelData().String4({{700, 1}, {50, 2}, {1, 3}}).EndOfLine().String4({{2, 4}}).EndOfLine();
    Feed(Object(top, PixelData().EndOfLine()));
    EXPECT_EQ(Row(0)[719], 0xF2);
    EXPECT_EQ(Row(0)[720], 0);
    EXPECT_EQ(Row(0)[799], 0);
    EXPECT_EQ(Row(2)[0], 0xF4);
    EXPECT_EQ(Row(2)[2], 0);
}

TEST_F(PixelDataTest, FieldsFillEvenAndOddLines) {
    const PixelData top = PixelData().Line4({{1, 1}}).Line4({{1, 2}}).Line4({{1, 3}});
    const PixelData bottom = PixelData().Line4({{1, 4}}).Line4({{1, 5}}).Line4({{1, 6}});
    Feed(Object(top, bottom));
    for (int row = 0; row < 6; ++row) EXPECT_EQ(Row(row)[0], row % 2 ? 0xF4 + row / 2 : 0xF1 + row / 2);
    // Without bottom field data the top field serves both (EN 300 743 §7.2.5).
    Feed(ObjectData(1, 1, PixelData().Line4({{1, 7}}).Line4({{1, 8}}).Data(), {}));
    EXPECT_EQ(Row(0)[0], 0xF7);
    EXPECT_EQ(Row(1)[0], 0xF7);
    EXPECT_EQ(Row(3)[0], 0xF8);
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
    EXPECT_EQ(Row(4)[0], 0xF1);
    EXPECT_EQ(Row(5)[0], 0xF1);
    EXPECT_EQ(Row(0)[799], 0xF1);  // clipped at the region's right edge
    EXPECT_EQ(Row(0)[2], 0xF1);
    EXPECT_EQ(Row(4)[6], 0xF3);  // the third placement, line 4
    EXPECT_EQ(Row(4)[7], 0);
    // Line 6 lies below region 0 but region 1 still gets it.
    const subtitle_region* r = FindRegion(1, 1);
    EXPECT_EQ(r->pixels[6 * 4 + 3], 0xF4);
    EXPECT_EQ(r->pixels[8 * 4], 0);
}

TEST_F(PixelDataTest, SubBlockSizesAndInvalidTypes) {
    subtitle_page* page = subtitle_find_page(&ctx, 1);
    int line = 0, column = 0;
    const Bytes maps = Concat({{0x20, 0x12, 0x34}, {0x21, 1, 2, 3, 4}, Bytes(1, 0x22), Bytes(16, 9)});
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, maps.data(), 25), 3);
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, maps.data() + 3, 22), 5);
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, maps.data() + 8, 17), 17);
    const Bytes bad{0x13, 0x11};
    testing::internal::CaptureStderr();
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, bad.data(), 2), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: subtitle_process_pixel_data: invalid data_type 13\n");
    const Bytes eol{0xF0};
    EXPECT_EQ(subtitle_process_pixel_data(&ctx, page, 1, line, column, eol.data(), 1), 1);
    EXPECT_EQ(line, 2);
    // An invalid sub-block abandons the rest of the packet.
    const std::string log = Logged(Concat({ObjectData(1, 1, {0x11, 0x10, 0x00, 0x13}, {}), EndOfDisplaySet(1)}));
    EXPECT_EQ(log,
              "TEKO: subtitle_process_pixel_data: invalid data_type 13\n"
              "TEKO: ERROR: Strange data at the end\n");
    EXPECT_TRUE(display.blits.empty());
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
    EXPECT_EQ(Row(0)[1], 0xF9);
}

TEST(BitStream, ReadsMostSignificantFirstAndReturnsZeroPastTheEnd) {
    const unsigned char bytes[] = {0xB4, 0x0F};
    bitstream bs;
    bitstream_init(&bs, bytes, 2, 2);
    EXPECT_EQ(bitstream_get(&bs), 2u);
    EXPECT_EQ(bitstream_get(&bs), 3u);
    EXPECT_EQ(bitstream_get(&bs), 1u);
    EXPECT_EQ(bitstream_get(&bs), 0u);
    EXPECT_EQ(bs.bytesUsed, 1);
    bs.width = 8;
    EXPECT_EQ(bitstream_get(&bs), 0x0Fu);
    EXPECT_EQ(bs.overrun, 0);
    EXPECT_EQ(bitstream_get(&bs), 0u);
    EXPECT_EQ(bs.overrun, 1);
    EXPECT_EQ(bs.bytesUsed, 2);
}

}  // namespace
