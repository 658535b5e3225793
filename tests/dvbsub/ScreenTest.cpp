// Screen composition: colours, blits and their clipping, the bounding box
// and its clear, collision with other on-screen displays, and time-outs.
#include "dvbsub/DvbSubFixture.h"

namespace {

class Screen : public DvbSubFixture {
protected:
    // A whole display set: region 0 (w x h, solid entry 1) at (x, y) on page 1.
    static Bytes DisplaySet(int x, int y, int w, int h, int version = 0, int timeout = 5) {
        PixelData top, bottom;
        for (int line = 0; line < h; ++line) (line % 2 ? bottom : top).Line4({{w, 1}});
        Region r = SimpleRegion(w, h, version);
        return Concat({Page(version, 1, x, y, timeout), RegionComposition(1, r),
                       ClutDefinition(1, 0, version, {{1, 235, 128, 128, 0}}), Object(top, bottom),
                       EndOfDisplaySet(1)});
    }
    void Show(const Bytes& segments) {
        testing::internal::CaptureStderr();
        Feed(segments);
        testing::internal::GetCapturedStderr();
    }
};

TEST(Colours, ClutEntriesAndDefaults) {
    const unsigned char transparentY[4] = {0, 200, 30, 0};
    EXPECT_EQ(subtitle_entry_color(transparentY), 0);
    const unsigned char white[4] = {235, 128, 128, 0};
    EXPECT_EQ(unsigned(subtitle_entry_color(white)), 0xFEFEFEFFu);
    // BT.709 red, half transparent; results clamp at 0 and 255.
    const unsigned char red[4] = {63, 240, 102, 0x80};
    EXPECT_EQ(unsigned(subtitle_entry_color(red)), 0xFF00007Fu);
    const unsigned char full[4] = {255, 255, 255, 255};
    EXPECT_EQ(unsigned(subtitle_entry_color(full)), 0xFFB6FF00u);
    EXPECT_EQ(subtitle_default_color(0), 0);
    EXPECT_EQ(unsigned(subtitle_default_color(1)), 0xFF0000FFu);
    EXPECT_EQ(unsigned(subtitle_default_color(6)), 0x00FFFFFFu);
    EXPECT_EQ(unsigned(subtitle_default_color(8)), 0x000000FFu);
    EXPECT_EQ(unsigned(subtitle_default_color(15)), 0x808080FFu);
}

// A one-byte screen's slots 0-15 get the region CLUT's 4-bit family: the
// stream's entries over the default contents.
TEST_F(Screen, PaletteProgramsTheFourBitFamily) {
    Show(DisplaySet(10, 400, 20, 4));
    EXPECT_EQ(display.paletteWrites, 16);
    EXPECT_EQ(unsigned(display.palette[1]), 0xFEFEFEFFu);
    EXPECT_EQ(unsigned(display.palette[2]), 0x00FF00FFu);
    // A new version that defines entry 3 keeps entry 1.
    Show(Concat({ClutDefinition(1, 0, 5, {{3, 16, 128, 128, 0}}), EndOfDisplaySet(1)}));
    EXPECT_EQ(unsigned(display.palette[3]), 0x000000FFu);
    EXPECT_EQ(unsigned(display.palette[1]), 0xFEFEFEFFu);
}

TEST_F(Screen, DisplaySetIsDrawnAndTheNextClearsExactlyItsRows) {
    const std::string log = Logged(DisplaySet(100, 450, 50, 80));
    ASSERT_EQ(display.blits.size(), 1u);
    EXPECT_EQ(display.blits[0].x, 100);
    EXPECT_EQ(display.blits[0].y, 450);
    EXPECT_EQ(display.Count(100, 450, 150, 530), 50 * 80);
    EXPECT_EQ(display.At(100, 450), 0xF7);  // the stream's white entry 1: default white
    EXPECT_NE(log.find("TEKO:     Draw Region: 0\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO:   nextPageTimeout[1] = 5\n"), std::string::npos);
    EXPECT_EQ(ctx.nextPageTimeout, 5);
    EXPECT_EQ(Drawn().top, 450);
    EXPECT_EQ(Drawn().bottom, 530);
    // The next display set clears the box's rows across the screen, then draws.
    const std::string log2 = Logged(Concat({PageComposition(1, 5, 1, 0, {}), EndOfDisplaySet(1)}));
    EXPECT_NE(log2.find("TEKO:   BBOX clear 100:450 -> 720:530\n"), std::string::npos);
    ASSERT_FALSE(display.rects.empty());
    EXPECT_EQ(display.rects[0].y, 450);
    EXPECT_EQ(display.rects[0].height, 80);
    EXPECT_EQ(display.Count(0, 0, 720, 576), 0);
    EXPECT_EQ(ctx.nextPageTimeout, 0);
    // With an empty box a clear draws nothing.
    display.rects.clear();
    subtitle_clear_screen(&ctx);
    EXPECT_TRUE(display.rects.empty());
    EXPECT_TRUE(Drawn().Empty());
}

TEST_F(Screen, RegionsAreClippedToTheScreenOrSkippedOffIt) {
    Show(DisplaySet(680, 540, 100, 100));
    ASSERT_EQ(display.blits.size(), 1u);
    EXPECT_EQ(display.blits[0].width, 40);
    EXPECT_EQ(display.blits[0].height, 36);
    EXPECT_EQ(display.Count(0, 0, 720, 576), 40 * 36);
    EXPECT_EQ(Drawn().right, 720);
    EXPECT_EQ(Drawn().bottom, 576);
    // At x 721 nothing is drawn, but the time-out is still set.
    Show(DisplaySet(721, 10, 10, 10, 1));
    EXPECT_EQ(display.blits.size(), 1u);
    EXPECT_EQ(ctx.nextPageTimeout, 5);
    Show(DisplaySet(0, 0, 10, 10, 2));
    ASSERT_EQ(display.blits.size(), 2u);
    EXPECT_EQ(display.At(0, 0), 0xF7);
}

TEST_F(Screen, ForeignPixelsOutsideTheBoxStopBlitsAndClears) {
    display.plane[100][360] = 7;  // another on-screen display
    Show(DisplaySet(100, 450, 50, 80));
    EXPECT_TRUE(display.blits.empty());
    EXPECT_EQ(ctx.nextPageTimeout, 5);  // it still counts as shown
    // Inside the subtitle's own rows the same pixel is ours and ignored.
    display.plane[100][360] = 0;
    Show(DisplaySet(100, 450, 50, 80, 1));
    ASSERT_EQ(display.blits.size(), 1u);
    display.plane[500][360] = 7;
    Show(DisplaySet(100, 450, 50, 80, 2));
    EXPECT_EQ(display.blits.size(), 2u);
    // A foreign pixel appearing above: the clear is skipped and the box forgotten.
    display.plane[10][360] = 7;
    display.rects.clear();
    subtitle_clear_screen(&ctx);
    EXPECT_TRUE(display.rects.empty());
    EXPECT_TRUE(Drawn().Empty());
}

TEST_F(Screen, TimeOuts) {
    ctx.maxShowTime = 4;
    std::string log = Logged(DisplaySet(0, 0, 10, 10, 0, 10));
    EXPECT_EQ(ctx.nextPageTimeout, 4);
    EXPECT_NE(log.find("TEKO:   nextPageTimeout[1] = MIN(4, 10) = 4\n"), std::string::npos);
    log = Logged(DisplaySet(0, 0, 10, 10, 1, 0));
    EXPECT_EQ(ctx.nextPageTimeout, 6);
    EXPECT_NE(log.find("TEKO:   nextPageTimeout[1] = [FORCED TO MAX 6 seconds] 6\n"), std::string::npos);
    // References to regions that do not exist draw nothing and cancel the time-out.
    log = Logged(Concat({PageComposition(1, 5, 2, 0, {{9, 0, 0}, {8, 0, 0}}), EndOfDisplaySet(1)}));
    EXPECT_EQ(ctx.nextPageTimeout, 0);
    EXPECT_NE(log.find("TEKO: ERROR: Region not found.\nTEKO:     Draw Region: 8\nTEKO: ERROR: Region not found.\n"),
              std::string::npos);
    EXPECT_NE(log.find("TEKO:   Nothing drawn...Remove cleartime.\nTEKO:   nextPageTimeout[1] = 0\n"),
              std::string::npos);
}

TEST_F(Screen, EnablingAndDisabling) {
    ctx.screenEnabled = 0;
    Show(DisplaySet(0, 100, 10, 10));
    EXPECT_TRUE(display.blits.empty());  // cleared, nothing drawn
    subtitle_screen_enable(&ctx, 1);
    EXPECT_EQ(display.blits.size(), 1u);
    subtitle_screen_enable(&ctx, 1);
    EXPECT_EQ(display.blits.size(), 1u);
    // Disabled, what was drawn goes, and nothing else.
    subtitle_screen_enable(&ctx, 0);
    ASSERT_EQ(display.rects.size(), 1u);
    EXPECT_EQ(display.rects[0].y, 100);
    EXPECT_EQ(display.rects[0].height, 10);
    EXPECT_EQ(display.Count(0, 0, 720, 576), 0);
    EXPECT_EQ(display.locks, display.unlocks);
}

}  // namespace
