// Teletext pages on the screen, on the fake display: the layout from the
// settings, slots and composition, the other-display test, and a page
// replacing the last in one update.
#include <gtest/gtest.h>

#include "TxtTestSupport.h"
#include "config/Settings.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

namespace {

pages::TeletextRow Row(int index, const std::string& text) {
    pages::TeletextRow row;
    row.row = index;
    row.runs = {{text, pages::kWhite, false}};
    row.bytes = text;
    return row;
}

pages::TeletextPage Page(std::vector<pages::TeletextRow> rows) {
    pages::TeletextPage page;
    page.number = 0x888;
    page.rows = std::move(rows);
    return page;
}

class TeletextScreen : public testing::Test {
protected:
    void Start(int bpp = 32, const config::TeletextStyle& style = FakeStyle(), int videoFormat = 4) {
        fake.bpp = bpp;
        testing::internal::CaptureStderr();
        screen.Start(&fake, style, videoFormat);
        log = testing::internal::GetCapturedStderr();
    }
    void Show(const pages::TeletextPage& page) {
        testing::internal::CaptureStderr();
        screen.Show(page);
        log = testing::internal::GetCapturedStderr();
    }
    int Pitch() const {
        const render::TeletextLayout& l = screen.Layout();
        return l.textHeight + l.textDepth + l.rowSpace;
    }
    int Blits() const { return int(fake.blits.size()); }

    FakeDisplay fake;
    render::TeletextScreen screen;
    std::string log;
};

}  // namespace

TEST_F(TeletextScreen, SlotsAndComposition) {
    Start();
    // Fake glyphs: ascent 20, descent 6; the margins make the box 20 + 9 lines.
    ASSERT_EQ(screen.Layout().textHeight, 20);
    ASSERT_EQ(screen.Layout().textDepth, 9);
    Show(Page({Row(21, "abc")}));
    EXPECT_EQ(log, "TEKO: CLEAR Subtitle page.\nTEKO: Subtitle@22:abc\nTEKO: Subtitle@RenderText.\n");
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"Lock", "AllocateBackBuffer", "SelectBackBuffer(true)",
                                                    "DrawFilledRect", "DrawText", "DrawText", "DrawText",
                                                    "DrawText", "DrawText", "DrawText", "DrawText", "DrawText",
                                                    "DrawText", "BlitBackBuffer", "SelectBackBuffer(false)",
                                                    "FreeBackBuffer", "UnLock"}));
    EXPECT_EQ(fake.blits.back(), 530 - 20);
    EXPECT_EQ(screen.DrawnTop(), 510);
    EXPECT_EQ(screen.DrawnBottom(), 539);
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
    // Row index 20 shares the bottom slot; each two rows up, one pitch.
    fake.blits.clear();
    Show(Page({Row(0, "jkl"), Row(19, "ghi"), Row(20, "def")}));
    EXPECT_EQ(fake.blits, (std::vector<int>{510 - 10 * Pitch(), 510 - Pitch(), 510}));
    EXPECT_EQ(screen.DrawnTop(), 510 - 10 * Pitch());
    EXPECT_EQ(fake.violations, 0);
}

// The next page replaces the last in one lock span: the clear of the old
// rows and the new rows together. The same page again changes nothing.
TEST_F(TeletextScreen, APageReplacesTheLastInOneUpdate) {
    Start();
    Show(Page({Row(19, "top"), Row(21, "bottom")}));
    const int top = screen.DrawnTop(), bottom = screen.DrawnBottom();
    fake.calls.clear();
    fake.rects.clear();
    Show(Page({Row(21, "new")}));
    EXPECT_EQ(fake.calls.front(), "Lock");
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "Lock"), 1);
    ASSERT_FALSE(fake.rects.empty());
    EXPECT_TRUE(fake.rects[0].onScreen);
    EXPECT_EQ(fake.rects[0].y, top);
    EXPECT_EQ(fake.rects[0].height, bottom - top);
    EXPECT_EQ(fake.rects[0].width, 720);
    fake.calls.clear();
    Show(Page({Row(21, "new")}));
    EXPECT_TRUE(fake.calls.empty());
    // An empty page clears; with nothing drawn a clear does nothing.
    Show(Page({}));
    int first, last;
    EXPECT_FALSE(fake.InkedLines(first, last));
    fake.calls.clear();
    screen.Clear();
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_EQ(fake.clears, 0);
}

TEST_F(TeletextScreen, HorizontalPlacementStylesAndRuns) {
    config::TeletextStyle style = FakeStyle();
    Start(32, style);
    fake.advance = 20;
    Show(Page({Row(21, "0123456789")}));  // 200 pixels wide
    EXPECT_EQ(fake.texts.back().x, 261);
    style.centerText = 0;
    style.startXPos = 10;
    Start(32, style);
    Show(Page({Row(21, "0123456789")}));
    EXPECT_EQ(fake.texts.back().x, 100);
    EXPECT_EQ(fake.texts.back().width, 620);

    struct Style {
        int useBackground, outlineSize;
        size_t rects, texts;
    } styles[] = {{0, 2, 0, 9}, {1, 2, 1, 1}, {2, 1, 1, 5}, {3, 0, 0, 5}, {0, 7, 0, 9}};
    for (const Style& s : styles) {
        style.useBackground = s.useBackground;
        style.outlineSize = s.outlineSize;
        Start(32, style);
        fake.rects.clear();
        fake.texts.clear();
        Show(Page({Row(20, "x")}));
        EXPECT_EQ(fake.rects.size(), s.rects) << s.useBackground;
        EXPECT_EQ(fake.texts.size(), s.texts) << s.useBackground << "/" << s.outlineSize;
    }
    // Eight copies at the compass points, o pixels from the text.
    const auto& t = fake.texts;
    int x = t.back().x, y = t.back().y;
    std::vector<std::pair<int, int>> at;
    for (size_t k = 0; k + 1 < t.size(); ++k) at.push_back({t[k].x - x, t[k].y - y});
    EXPECT_EQ(at, (std::vector<std::pair<int, int>>{{-7, -7}, {-7, 7}, {7, -7}, {7, 7}, {7, 0}, {-7, 0}, {0, 7}, {0, -7}}));

    // Two runs: both outlines before either text, each run where the one
    // before it ends.
    style = FakeStyle();
    style.outlineSize = 1;
    Start(32, style);
    fake.texts.clear();
    pages::TeletextRow two = Row(21, "ab");
    two.runs.push_back({"cde", pages::kYellow, true});
    Show(Page({two}));
    ASSERT_EQ(fake.texts.size(), 2u * 5 + 2);
    EXPECT_EQ(fake.texts[4].colour, kBlack);
    EXPECT_EQ(fake.texts[9].colour, kBlack);
    EXPECT_EQ(fake.texts[10].text, "ab");
    EXPECT_EQ(fake.texts[11].text, "cde");
    EXPECT_EQ(fake.texts[11].x - fake.texts[10].x, 2 * 20);
}

// Another display's pixel on the centre column (even lines) holds the page
// back; the daemon's own colours, transparent pixels and other columns do
// not. Once the other display goes, the page held back is drawn.
TEST_F(TeletextScreen, OtherDisplaysHoldPagesBack) {
    for (int bpp : {32, 8}) {
        SCOPED_TRACE(bpp);
        fake = FakeDisplay(bpp);
        Start(bpp);
        fake.SetScreen(360, 301, 0x12345678);  // odd line
        fake.SetScreen(360, 100, bpp == 32 ? 0x11223300 : 0);  // transparent
        fake.SetScreen(360, 200, bpp == 32 ? kShade : 24);     // our own colour
        fake.SetScreen(361, 300, 0x12345678);                  // another column
        Show(Page({Row(21, "drawn")}));
        EXPECT_EQ(Blits(), 1);
        fake.SetScreen(360, 40, 0x12345677);
        Show(Page({Row(21, "refused")}));
        EXPECT_EQ(log, "TEKO: TEKO: Other display at (360, 40)\nTEKO: Subtitle@22:refused\n"
                       "TEKO: ...don't draw this, something on screen.\n");
        EXPECT_EQ(Blits(), 1);
        // The clear is held back too.
        screen.Clear();
        int first, last;
        EXPECT_TRUE(fake.InkedLines(first, last));
        fake.SetScreen(360, 40, 0);
        Show(Page({Row(21, "refused")}));
        EXPECT_EQ(Blits(), 2);
    }
    config::TeletextStyle style = FakeStyle();
    style.collisionDetection = 0;
    Start(32, style);
    fake.SetScreen(360, 40, 0x12345677);
    Show(Page({Row(21, "over it")}));
    EXPECT_EQ(Blits(), 3);
}

TEST_F(TeletextScreen, BlitsAndGlyphsStayInside) {
    config::TeletextStyle style = FakeStyle();
    // Offsets that would push the boxes above line 0 or below line 575.
    for (int startY : {-2000, -530, 40, 300, 100000, -100000}) {
        style.fourThree.startYPos = startY;
        Start(32, style);
        for (int row = 0; row < 23; ++row) Show(Page({Row(row, "Wg")}));
    }
    EXPECT_EQ(fake.violations, 0);
    for (int line : fake.blits) {
        EXPECT_GE(line, 0);
        EXPECT_LE(line + screen.Layout().textHeight + screen.Layout().textDepth, 576);
    }
    // A box taller than the screen is not drawn at all.
    fake.ascent = 500;
    fake.descent = 100;
    Start(32, FakeStyle());
    const int blits = Blits();
    Show(Page({Row(21, "tall")}));
    EXPECT_EQ(Blits(), blits);
    // Settings far out of range do not overflow anything.
    fake.ascent = 20;
    fake.descent = 6;
    style = FakeStyle();
    style.outlineSize = 2147483647;
    style.startXPos = 2147483647;
    style.fourThree.rowSpace = 2147483647;
    style.centerText = 0;
    Start(32, style);
    Show(Page({Row(0, "far")}));
    EXPECT_EQ(fake.violations, 0);
    // Without a back buffer nothing is drawn on the screen and the lock is released.
    Start(32, FakeStyle());
    fake.failAllocation = true;
    std::fill(fake.screen.begin(), fake.screen.end(), 0);
    Show(Page({Row(21, "lost")}));
    int first, last;
    EXPECT_FALSE(fake.InkedLines(first, last));
    EXPECT_FALSE(fake.locked);
}

// The layout of the picture format and the screen's depth, from the
// settings; a value out of range is told of in one line and the default
// applies.
TEST_F(TeletextScreen, LayoutFromTheSettings) {
    TempRoot root;
    const auto load = [&](const std::string& conf, std::string* said = nullptr) {
        root.Write(paths::kConfig, conf);
        Settings settings;
        testing::internal::CaptureStderr();
        settings.LoadFromFile(paths::kConfig);
        config::TeletextStyle style = config::ReadOptions(settings).teletext;
        const std::string text = testing::internal::GetCapturedStderr();
        if (said) *said = text;
        return style;
    };
    const std::string both = "FontSize 30\nRowSpace 4\nStartYPos -10\nExtraYSize 10\n"
                             "WideFontSize 24\nWideRowSpace 2\nWideStartYPos 20\nWideExtraYSize -3\n";
    fake.ascent = 26;
    fake.descent = 7;
    Start(32, load(both + "TextColor ffffffff\nCenterText 0\n"), 4);
    EXPECT_EQ(log,
              "TEKO: Drawing using 4:3 settings...\nTEKO: Drawing TextColor: ffffffff\n"
              "TEKO: Drawing OutlineColor: ff\nTEKO: Drawing BackgroundColor: 44\nTEKO: CollisionDetection: 1\n");
    const render::TeletextLayout& l = screen.Layout();
    EXPECT_EQ((std::vector<int>{l.fontSize, l.rowSpace, l.startYPos, l.extraYSize, l.startXPos, l.outlineSize}),
              (std::vector<int>{30, 4, -10, 10, 60, 2}));
    // Measured 26 and 7, plus the margins of an extra size of 10.
    EXPECT_EQ(l.textHeight, 31);
    EXPECT_EQ(l.textDepth, 15);
    Start(8, load(both + "PaletteTextColor 7\nOutlineSize 1\nCollisionDetection 0\n"), 16);
    EXPECT_EQ((std::vector<int>{l.fontSize, l.rowSpace, l.startYPos, l.textColor, l.outlineColor, l.outlineSize,
                                l.collisionDetection}),
              (std::vector<int>{24, 2, 20, 7, 24, 1, 0}));
    // -3 / 2 truncates to -1: the height loses one line, the depth gains two.
    EXPECT_EQ(l.textHeight, 25);
    EXPECT_EQ(l.textDepth, 9);

    const struct {
        const char* line;
        int fontSize, outlineSize;
        bool logged;
    } kCases[] = {
        {"FontSize -5\n", 28, 2, true},   {"FontSize 0\n", 28, 2, true},     {"FontSize 100000\n", 28, 2, true},
        {"FontSize big\n", 28, 2, true},  {"OutlineSize -1\n", 28, 2, true}, {"OutlineSize 3\n", 28, 3, false},
        {"FontSize 40\n", 40, 2, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.line);
        std::string said;
        Start(32, load(std::string("FontSize 28\nOutlineSize 2\n") + c.line, &said), 4);
        EXPECT_EQ(l.fontSize, c.fontSize);
        EXPECT_EQ(l.outlineSize, c.outlineSize);
        EXPECT_EQ(said.find("Setting ") != std::string::npos, c.logged) << said;
    }
}
