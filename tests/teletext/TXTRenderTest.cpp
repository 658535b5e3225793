// Placement, composition, collision test and clears, on the fake display.
#include <gtest/gtest.h>

#include "TxtTestSupport.h"

namespace {

class TXTRender : public testing::Test {
protected:
    void Start(int bpp = 32) {
        fake.bpp = bpp;
        StartOnFake(txt, fake, 0x888);
    }
    int Render(const std::string& text, int row) {
        testing::internal::CaptureStderr();
        int result = txt.renderSubtitle(text, row);
        log = testing::internal::GetCapturedStderr();
        return result;
    }
    int Pitch() const { return txt.textHeight + txt.textDepth + txt.rowSpace; }

    FakeDisplay fake;
    TXTSubtitle txt;
    std::string log;
};

}  // namespace

TEST_F(TXTRender, SlotsAndComposition) {
    Start();
    // Fake glyphs: ascent 20, descent 6; the margins make the box 20 + 9 lines.
    ASSERT_EQ(txt.textHeight, 20);
    ASSERT_EQ(txt.textDepth, 9);
    EXPECT_EQ(Render("abc", 21), 0);
    EXPECT_EQ(log, "TEKO: Subtitle@22:abc\nTEKO: Subtitle@RenderText.\n");
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"Lock", "AllocateBackBuffer", "SelectBackBuffer(true)",
                                                    "DrawFilledRect", "DrawText", "DrawText", "DrawText",
                                                    "DrawText", "DrawText", "DrawText", "DrawText", "DrawText",
                                                    "DrawText", "BlitBackBuffer", "SelectBackBuffer(false)",
                                                    "FreeBackBuffer", "UnLock"}));
    EXPECT_EQ(fake.blits.back(), 530 - 20);
    EXPECT_EQ(txt.highestRow, 510);
    EXPECT_EQ(txt.lowestRow, 539);
    // Centred: (720 - 30) / 2 + 1; the text comes last, on the baseline.
    const auto& text = fake.texts.back();
    EXPECT_EQ(text.x, 346);
    EXPECT_EQ(text.y, 20);
    EXPECT_EQ(text.width, 720);
    EXPECT_EQ(text.colour, kWhite);
    // Background box: half the depth beyond the text at each side.
    EXPECT_EQ(fake.rects[0].x, 346 - 4);
    EXPECT_EQ(fake.rects[0].width, 30 + 9);
    EXPECT_EQ(fake.rects[0].height, 29);

    EXPECT_EQ(Render("def", 20), 0);  // row index 20 shares the bottom slot
    EXPECT_EQ(fake.blits.back(), 510);
    Render("ghi", 19);
    EXPECT_EQ(fake.blits.back(), 510 - Pitch());
    Render("jkl", 0);
    EXPECT_EQ(fake.blits.back(), 510 - 10 * Pitch());
    EXPECT_EQ(txt.highestRow, 510 - 10 * Pitch());
    EXPECT_EQ(fake.violations, 0);
}

TEST_F(TXTRender, ForcedClearAfterTheBottomRow) {
    Start();
    Render("one", 21);
    Render("two", 22);
    EXPECT_NE(log.find("TEKO: Forced CLEAR, then draw!\nTEKO: CLEAR Subtitle page.\n"), std::string::npos);
    // The clear came before the second line's drawing.
    EXPECT_EQ(fake.rects.size(), 3u);  // box, clear band, box
    EXPECT_TRUE(fake.rects[1].onScreen);
    EXPECT_EQ(txt.lastRow, 22);
    Render("three", 19);
    EXPECT_EQ(log.find("Forced"), std::string::npos);
    // A clear in between (an erase) resets the rule.
    Render("four", 21);
    testing::internal::CaptureStderr();
    txt.clearSubtitlePage();
    testing::internal::GetCapturedStderr();
    Render("five", 20);
    EXPECT_EQ(log.find("Forced"), std::string::npos);
}

TEST_F(TXTRender, HorizontalPlacementAndStyles) {
    Start();
    fake.advance = 20;
    Render("0123456789", 21);  // 200 pixels wide
    EXPECT_EQ(fake.texts.back().x, 261);
    txt.centerText = 0;
    txt.startXPos = 10;
    Render("0123456789", 21);
    EXPECT_EQ(fake.texts.back().x, 100);
    EXPECT_EQ(fake.texts.back().width, 620);

    struct Style {
        int useBackground, outlineSize;
        size_t rects, texts;
    } styles[] = {{0, 2, 0, 9}, {1, 2, 1, 1}, {2, 1, 1, 5}, {3, 0, 0, 5}, {0, 7, 0, 9}};
    for (const Style& s : styles) {
        txt.useBackground = s.useBackground;
        txt.outlineSize = s.outlineSize;
        fake.rects.clear();
        fake.texts.clear();
        txt.lastRow = -1;
        Render("x", 20);
        EXPECT_EQ(fake.rects.size(), s.rects) << s.useBackground;
        EXPECT_EQ(fake.texts.size(), s.texts) << s.useBackground << "/" << s.outlineSize;
    }
    // Eight copies at the compass points, o pixels from the text.
    const auto& t = fake.texts;
    int x = t.back().x, y = t.back().y;
    std::vector<std::pair<int, int>> at;
    for (size_t k = 0; k + 1 < t.size(); ++k) at.push_back({t[k].x - x, t[k].y - y});
    EXPECT_EQ(at, (std::vector<std::pair<int, int>>{{-7, -7}, {-7, 7}, {7, -7}, {7, 7}, {7, 0}, {-7, 0}, {0, 7}, {0, -7}}));
}

TEST_F(TXTRender, CollisionTestOnA32BitScreen) {
    Start();
    // Nothing drawn yet: the whole column is sampled, even lines only.
    fake.SetScreen(360, 301, 0x12345678);
    fake.SetScreen(360, 100, 0x11223300);  // alpha 0 is empty
    fake.SetScreen(360, 200, kShade);       // our own colour
    fake.SetScreen(361, 300, 0x12345678);   // another column
    EXPECT_EQ(Render("drawn", 21), 0);
    txt.highestRow = 576;  // as after Start
    txt.lowestRow = 0;
    txt.lastRow = -1;
    fake.SetScreen(360, 300, 0x12345678);
    EXPECT_EQ(Render("refused", 20), 1);
    EXPECT_EQ(log, "TEKO: Subtitle@21:refused\nTEKO: ...don't draw this, something on screen.\n");
    EXPECT_EQ(txt.lastRow, -1);
    // Once something was drawn only the drawn extent is sampled.
    txt.collisionDetection = 0;
    EXPECT_EQ(Render("drawn", 21), 0);
    txt.collisionDetection = 1;
    EXPECT_EQ(Render("again", 21), 0);
    fake.SetScreen(360, txt.highestRow, 0x12345678);
    EXPECT_EQ(Render("blocked", 21), 1);
    txt.collisionDetection = 0;
    EXPECT_EQ(Render("over it", 21), 0);
}

TEST_F(TXTRender, CollisionTestOnAPaletteScreen) {
    Start(8);
    EXPECT_EQ(txt.textColor, 31);
    EXPECT_EQ(Render("drawn", 21), 0);  // indexes 31 and 24 are ours
    fake.SetScreen(360, 3, 0x55);       // odd line: not sampled
    fake.SetScreen(360, 40, 0x77);      // far above the extent: sampled anyway
    EXPECT_EQ(Render("refused", 21), 1);
    EXPECT_EQ(log,
              "TEKO: TEKO: Check collision@(360, 40): Color at this pixel:77\n"
              "TEKO: Subtitle@22:refused\nTEKO: ...don't draw this, something on screen.\n");
}

TEST_F(TXTRender, ClearsAndThePendingClear) {
    Start();
    testing::internal::CaptureStderr();
    txt.clearSubtitlePage();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: CLEAR Subtitle page.\nTEKO: highestRow=576\nTEKO: lowestRow=0\n");
    EXPECT_EQ(fake.clears, 1);  // nothing drawn: the whole screen

    Render("top", 19);
    Render("bottom", 21);
    int first, last;
    ASSERT_TRUE(fake.InkedLines(first, last));
    txt.clearSubtitlePage();
    txt.clearSubtitlePage();
    EXPECT_EQ(fake.clears, 1);
    ASSERT_GE(fake.rects.size(), 2u);
    for (size_t k = fake.rects.size() - 2; k < fake.rects.size(); ++k) {
        EXPECT_EQ(fake.rects[k].y, txt.highestRow);
        EXPECT_EQ(fake.rects[k].height, txt.lowestRow - txt.highestRow);
        EXPECT_EQ(fake.rects[k].width, 720);
        EXPECT_TRUE(fake.rects[k].onScreen);
    }
    EXPECT_LE(txt.highestRow, first);
    EXPECT_GT(txt.lowestRow, last);
    EXPECT_FALSE(fake.InkedLines(first, last));

    // A refused clear touches nothing and is retried with the next packet.
    Render("line", 21);
    fake.SetScreen(360, txt.highestRow, 0x0BADF00D);
    size_t calls = fake.calls.size();
    testing::internal::CaptureStderr();
    txt.Stop();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(txt.clearPending);
    EXPECT_EQ(txt.lastRow, -1);
    EXPECT_EQ(fake.calls.size(), calls);
    Feed(txt, {});
    EXPECT_TRUE(txt.clearPending);
    fake.SetScreen(360, txt.highestRow, 0);
    Feed(txt, {});
    EXPECT_FALSE(txt.clearPending);
    EXPECT_FALSE(fake.InkedLines(first, last));

    // A line drawn also ends a pending clear.
    fake.SetScreen(360, txt.highestRow, 0x0BADF00D);
    txt.clearSubtitlePage();
    ASSERT_TRUE(txt.clearPending);
    txt.collisionDetection = 0;
    Render("drawn", 21);
    EXPECT_FALSE(txt.clearPending);
}

TEST_F(TXTRender, BlitsAndGlyphsStayInside) {
    Start();
    // Offsets that would push the boxes above line 0 or below line 575.
    for (int startY : {-2000, -530, 40, 300, 100000, -100000}) {
        txt.startYPos = startY;
        for (int row = 0; row < 23; ++row) {
            txt.lastRow = -1;
            Render("Wg", row);
        }
    }
    EXPECT_EQ(fake.violations, 0);
    for (int line : fake.blits) {
        EXPECT_GE(line, 0);
        EXPECT_LE(line + txt.textHeight + txt.textDepth, 576);
    }
    // A box taller than the screen is not drawn at all.
    txt.textHeight = 500;
    txt.textDepth = 100;
    size_t blits = fake.blits.size();
    EXPECT_EQ(Render("tall", 21), 1);
    EXPECT_EQ(fake.blits.size(), blits);
    // Settings far out of range do not overflow anything.
    txt.textHeight = 20;
    txt.textDepth = 9;
    txt.outlineSize = 2147483647;
    txt.startXPos = 2147483647;
    txt.rowSpace = 2147483647;
    txt.centerText = 0;
    txt.lastRow = -1;
    EXPECT_EQ(Render("far", 0), 0);
    EXPECT_EQ(fake.violations, 0);
    // Without a back buffer nothing is drawn on the screen and the lock is released.
    fake.failAllocation = true;
    txt.outlineSize = 2;
    txt.startXPos = 60;
    txt.rowSpace = 5;
    int first, last;
    std::fill(fake.screen.begin(), fake.screen.end(), 0);
    EXPECT_EQ(Render("lost", 21), 1);
    EXPECT_FALSE(fake.InkedLines(first, last));
    EXPECT_FALSE(fake.locked);
}

TEST_F(TXTRender, NoDisplayDrawsNothing) {
    TXTSubtitle idle;
    EXPECT_EQ(idle.renderSubtitle("x", 21), 1);
    EXPECT_EQ(idle.clearSubtitlePage(), 0);
    EXPECT_EQ(idle.Stop(), 0);
}
