// Colour depths and display definitions on both kinds of screen: regions of
// 2, 4 and 8 bits in their own CLUT's colours, the codes written for the
// box's palette, scaling from the display definition onto the screen, and
// the collision test on red and green pixels.
#include "dvbsub/DvbSubFixture.h"

namespace {

// Page 1: region `id` (w x h, depth, CLUT `clut`) at (x, y), object `id`
// of solid code `code` in it, in a string of the region's depth.
Bytes SolidRegion(int id, int depth, int clut, int w, int h, int code) {
    Region r;
    r.regionId = id;
    r.width = w;
    r.height = h;
    r.depth = depth;
    r.clutId = clut;
    r.objects = {{id, 0, 0}};
    PixelData top, bottom;
    for (int line = 0; line < h; ++line) {
        PixelData& p = line % 2 ? bottom : top;
        if (depth == 1) p.String2({{w, code}}).EndOfLine();
        else if (depth == 3) p.String8({{w, code}}).EndOfLine();
        else p.Line4({{w, code}});
    }
    return Concat({RegionComposition(1, r), ObjectData(1, id, top.Data(), bottom.Data())});
}

// The word a 32-bit screen shows for a CLUT entry.
uint32_t Expected(int y, int cr, int cb, int t) {
    const unsigned char e[4] = {uint8_t(y), uint8_t(cr), uint8_t(cb), uint8_t(t)};
    const uint32_t c = uint32_t(subtitle_entry_color(e));
    return c >> 8 | c << 24;
}

class Depths : public DvbSubFixture {
protected:
    void SetUp() override {
        DvbSubFixture::SetUp();
        presenter.dvb.Start(&screen32, config::DvbOptions());
    }
    void TearDown() override {
        DvbSubFixture::TearDown();
        for (const std::string& v : screen32.violations) ADD_FAILURE() << "32-bit display: " << v;
    }
    void Show(const Bytes& segments) {
        testing::internal::CaptureStderr();
        Feed(segments);
        testing::internal::GetCapturedStderr();
    }
    CheckingDisplay screen32{false, 32};
};

// Three regions of 2, 4 and 8 bits on one page, two CLUTs: each region in
// its own CLUT's family; code 0 and codes 0xF0-0xFF are colours too.
TEST_F(Depths, EveryRegionShowsItsOwnClutFamily) {
    Show(Concat({PageComposition(1, 5, 0, 1, {{1, 0, 0}, {2, 0, 10}, {3, 0, 20}, {4, 0, 30}}),
                 ClutDefinition(1, 0, 0, {{1, 82, 90, 240, 0, true, 0x80}, {0, 145, 54, 34, 0, true, 0x40}}),
                 ClutDefinition(1, 1, 0, {{0xF5, 81, 240, 90, 0, true, 0x20}, {3, 235, 128, 128, 0, true, 0x80}}),
                 SolidRegion(1, 1, 0, 8, 2, 1), SolidRegion(2, 2, 0, 8, 2, 0), SolidRegion(3, 3, 1, 8, 2, 0xF5),
                 SolidRegion(4, 1, 1, 8, 2, 3), EndOfDisplaySet(1)}));
    ASSERT_EQ(screen32.argbBlits.size(), 4u);
    EXPECT_TRUE(screen32.blits.empty());
    EXPECT_EQ(screen32.Word(0, 0), Expected(82, 90, 240, 0));    // 2-bit entry 1 of CLUT 0
    EXPECT_EQ(screen32.Word(3, 11), Expected(145, 54, 34, 0));   // 4-bit entry 0
    EXPECT_EQ(screen32.Word(7, 21), 0xFFFF1700u);                 // 8-bit entry 0xF5 of CLUT 1
    EXPECT_EQ(screen32.Word(0, 31), Expected(235, 128, 128, 0));  // 2-bit entry 3 of CLUT 1
    EXPECT_EQ(screen32.Count(0, 0, 720, 576), 4 * 16);
}

// Entries the stream leaves undefined show the default contents (EN 300
// 743 §10): 2-bit entry 3 is grey, 8-bit entries 1-7 are translucent.
TEST_F(Depths, UndefinedEntriesShowTheDefaults) {
    Show(Concat({PageComposition(1, 5, 0, 1, {{1, 0, 0}, {2, 0, 10}}), SolidRegion(1, 1, 7, 4, 2, 3),
                 SolidRegion(2, 3, 7, 4, 2, 0x12), EndOfDisplaySet(1)}));
    EXPECT_EQ(screen32.Word(0, 0), 0xFF7F7F7Fu);
    // 0x12: bits 3 and 7 clear, so bit 4 adds 170 to red, bit 1 85 to green.
    EXPECT_EQ(unsigned(subtitle_default_clut()->colours8[0x12]), 0xAA5500FFu);
    EXPECT_EQ(screen32.Word(0, 10), 0xFFAA5500u);
    EXPECT_EQ(unsigned(subtitle_default_clut()->colours8[3]), 0xFFFF003Fu);
}

// A one-byte screen gets 0xF0 | a 4-bit entry: each CLUT entry as the
// nearest default 4-bit entry, so default 2-bit codes go through the
// default map and a stream's 4-bit white is default white; a transparent
// entry is 0xF0 (2 and 4 bits) or 0 (8 bits). Regions of every depth land
// where they are placed.
TEST_F(Depths, PaletteScreenCodes) {
    presenter.dvb.Start(&display, config::DvbOptions());
    Show(Concat({PageComposition(1, 5, 0, 1, {{1, 100, 100}, {2, 100, 110}, {3, 100, 120}, {4, 100, 130}}),
                 ClutDefinition(1, 1, 0, {{0xF5, 81, 240, 90, 0, true, 0x20}, {9, 16, 128, 128, 255, true, 0x20},
                                          {2, 235, 128, 128, 0, true, 0x40}, {3, 16, 128, 128, 255, true, 0x40}}),
                 SolidRegion(1, 1, 0, 8, 2, 1), SolidRegion(2, 2, 0, 8, 2, 9), SolidRegion(3, 3, 1, 8, 2, 0xF5),
                 SolidRegion(4, 3, 1, 8, 2, 9), EndOfDisplaySet(1)}));
    EXPECT_EQ(display.At(100, 100), 0xF7);
    EXPECT_EQ(display.At(107, 111), 0xF9);
    EXPECT_EQ(display.At(103, 120), 0xF1);  // red: default entry 1
    EXPECT_EQ(display.At(103, 130), 0);     // T 255: transparent
    EXPECT_EQ(display.Count(0, 0, 720, 576), 3 * 16);
    Show(Concat({PageComposition(1, 5, 1, 1, {{5, 100, 140}, {6, 100, 150}}), SolidRegion(5, 2, 1, 8, 2, 2),
                 SolidRegion(6, 2, 1, 8, 2, 3), EndOfDisplaySet(1)}));
    EXPECT_EQ(display.At(100, 140), 0xF7);  // the stream's white
    EXPECT_EQ(display.At(100, 150), 0xF0);  // its transparent entry 3
}

TEST(DefaultEntry, NearestIsTheClosestOfTheFifteenColours) {
    EXPECT_EQ(subtitle_nearest_default4(0), 0);
    EXPECT_EQ(subtitle_nearest_default4(int(0xFFFFFF00u)), 0);  // transparent white
    EXPECT_EQ(subtitle_nearest_default4(int(0xFFFFFF7Fu)), 0);  // more than half transparent
    EXPECT_NE(subtitle_nearest_default4(int(0xFFFFFF80u)), 0);
    // Against a naive search over a grid of colours.
    for (unsigned r = 0; r < 256; r += 51)
        for (unsigned g = 0; g < 256; g += 51)
            for (unsigned b = 0; b < 256; b += 51) {
                const int colour = int(r << 24 | g << 16 | b << 8 | 0x80);
                int best = 1;
                double bestD = 1e18;
                for (int e = 1; e < 16; ++e) {
                    const unsigned d = unsigned(subtitle_default_color(e));
                    const double dr = double(d >> 24) - r, dg = double((d >> 16) & 255) - g, db = double((d >> 8) & 255) - b;
                    if (dr * dr + dg * dg + db * db < bestD) bestD = dr * dr + dg * dg + db * db, best = e;
                }
                EXPECT_EQ(subtitle_nearest_default4(colour), best) << r << "," << g << "," << b;
            }
}

// A 1920 x 1080 page is scaled by 3/8 and 8/15 onto the screen; a display
// window moves it; positions, box and clears are in screen pixels.
TEST_F(Depths, HighDefinitionPagesAreScaledOntoTheScreen) {
    const Bytes clut = ClutDefinition(1, 0, 0, {{1, 235, 128, 128, 0}});
    Show(Concat({DisplayDefinition(1, 1920, 1080), PageComposition(1, 5, 0, 1, {{1, 960, 540}}), clut,
                 SolidRegion(1, 2, 0, 192, 108, 1), EndOfDisplaySet(1)}));
    ASSERT_EQ(screen32.argbBlits.size(), 1u);
    EXPECT_EQ(screen32.argbBlits[0].x, 360);
    EXPECT_EQ(screen32.argbBlits[0].y, 288);
    EXPECT_EQ(screen32.argbBlits[0].width, 72);
    EXPECT_EQ(screen32.argbBlits[0].height, 58);  // 57.6 rows: the last one partly covered
    EXPECT_EQ(screen32.Word(400, 300), 0xFFFEFEFEu);
    EXPECT_EQ(screen32.Word(400, 345) >> 24, 0x99u);  // 60 % of the last row's area
    EXPECT_EQ(Drawn().top, 288);
    EXPECT_EQ(Drawn().bottom, 346);
    // The window offset is added before scaling.
    Show(Concat({DisplayDefinition(1, 1920, 1080, 192, 108, 1919, 1079), PageComposition(1, 5, 1, 0, {{1, 0, 0}}),
                 EndOfDisplaySet(1)}));
    ASSERT_EQ(screen32.argbBlits.size(), 2u);
    EXPECT_EQ(screen32.argbBlits[1].x, 72);
    EXPECT_EQ(screen32.argbBlits[1].y, 57);  // 57.6: partly covered top and bottom rows
    EXPECT_EQ(screen32.Count(0, 0, 720, 576), 72 * 59);
}

TEST_F(Depths, PaletteScreensTakeTheNearestDisplayPixel) {
    presenter.dvb.Start(&display, config::DvbOptions());
    // A 320 x 240 page: region of 10 x 10 at (160, 120), half white, half code 2.
    Region r;
    r.regionId = 1, r.width = 10, r.height = 10, r.objects = {{1, 0, 0}};
    PixelData top, bottom;
    for (int line = 0; line < 10; ++line) (line % 2 ? bottom : top).Line4({{5, 1}, {5, 2}});
    Show(Concat({DisplayDefinition(1, 320, 240), PageComposition(1, 5, 0, 1, {{1, 160, 120}}), RegionComposition(1, r),
                 ObjectData(1, 1, top.Data(), bottom.Data()), EndOfDisplaySet(1)}));
    ASSERT_EQ(display.blits.size(), 1u);
    EXPECT_EQ(display.blits[0].x, 360);
    EXPECT_EQ(display.blits[0].y, 288);
    EXPECT_EQ(display.blits[0].width, 23);  // 22.5 columns
    EXPECT_EQ(display.blits[0].height, 24);
    EXPECT_EQ(display.At(360, 288), 0xF1);
    EXPECT_EQ(display.At(370, 288), 0xF1);  // its centre lies 4.7 display pixels into the region
    EXPECT_EQ(display.At(371, 288), 0xF2);  // 5.1
    EXPECT_EQ(display.Count(0, 0, 720, 576), 22 * 24);  // the 23rd column's centre lies past the region
}

TEST_F(Depths, DisplayDefinitionsBeyondFullHdAreRefused) {
    std::string log = Logged(DisplayDefinition(1, 3840, 2160));
    EXPECT_EQ(log, "TEKO: ERROR: Display of 3840x2160 refused (at most 1920x1080).\n");
    EXPECT_EQ(ctx.display.width, 720);
    log = Logged(DisplayDefinition(1, 1920, 1080, 100, 0, 50, 10));
    EXPECT_EQ(log, "TEKO: ERROR: Display window 100-50, 0-10 lies outside the 1920x1080 display, ignored.\n"
                   "TEKO: Display 1920x1080, window at 0,0.\n");
    EXPECT_EQ(ctx.display.width, 1920);
    EXPECT_EQ(Logged(DisplayDefinition(1, 1920, 1080)), "");  // a repetition says nothing
    EXPECT_EQ(Logged(Segment(0x14, 1, {0x08, 1, 2})), "TEKO: ERROR: Display definition cut short (3 bytes).\n");
    subtitle_reset(&ctx);
    EXPECT_EQ(ctx.display.width, 720);
}

// Another on-screen display is there when its pixel is not transparent:
// a red or a green pixel counts on either kind of screen.
TEST_F(Depths, RedAndGreenMenusStopTheSubtitle) {
    const auto shows = [](CheckingDisplay& d) { return render::OtherDisplay().Shows(d, 0, 0); };
    for (uint32_t word : {0xFFFF0000u, 0xFF00FF00u, 0x01000000u, 0x00FFFFFFu}) {
        screen32.Reset();
        screen32.words[100 * kScreenWidth + 360] = word;
        EXPECT_EQ(shows(screen32), word >> 24 != 0) << std::hex << word;  // transparent, whatever its colour
    }
    for (unsigned char index : {0xF1, 0xF2, 0x03, 0x00}) {
        display.Reset();
        display.plane[100][360] = index;
        EXPECT_EQ(shows(display), index != 0) << int(index);
    }
}

}  // namespace
