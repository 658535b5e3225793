#include <ft2build.h>
#include FT_FREETYPE_H

#include <atomic>
#include <climits>
#include <thread>
#include <vector>

#include "DisplayFixture.h"

using display_test::ConfigOf;
using display_test::Geometry;
using display_test::Rig;

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;

struct Box {
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;  // inclusive; x1 < 0: empty
    bool Empty() const { return x1 < 0; }
};

// Ink columns of one row, in order.
std::vector<int> RowInk(Rig& rig, int y, int x0 = 0, int x1 = 720) {
    std::vector<int> cols;
    for (int x = x0; x < x1; ++x)
        if (rig.At(x, y)) cols.push_back(x);
    return cols;
}

Box InkBox(Rig& rig, int x0 = 0, int y0 = 0, int x1 = 720, int y1 = 576) {
    Box b;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (rig.At(x, y)) {
                b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
                b.x1 = std::max(b.x1, x), b.y1 = std::max(b.y1, y);
            }
    return b;
}

std::vector<uint32_t> Snapshot(Rig& rig) {
    std::vector<uint32_t> s(720 * 576);
    for (int y = 0; y < 576; ++y)
        for (int x = 0; x < 720; ++x) s[y * 720 + x] = rig.At(x, y);
    return s;
}

// How far right the top ink row of the columns [x0, x1) starts compared
// with the bottom ink row: 0 for an upright stem, about a fifth of the
// glyph's height for a slanted one.
int Slant(Rig& rig, int x0, int x1) {
    Box b = InkBox(rig, x0, 0, x1, 576);
    if (b.Empty()) return INT_MIN;
    return RowInk(rig, b.y0, x0, x1).front() - RowInk(rig, b.y1, x0, x1).front();
}

// Column ranges [first, last] of ink separated by empty columns.
std::vector<std::pair<int, int>> Segments(Rig& rig) {
    std::vector<std::pair<int, int>> segs;
    bool in = false;
    for (int x = 0; x < 720; ++x) {
        bool ink = rig.Ink(x, 0, x + 1, 576) > 0;
        if (ink && !in) segs.push_back({x, x});
        if (ink) segs.back().second = x;
        in = ink;
    }
    return segs;
}

int Width(FrameBufferDevice& d, int size, const std::string& text) {
    int w = 0, h = 0, dep = 0;
    d.GetStringSize(size, text, w, h, dep);
    return w;
}

class TextRendering : public testing::TestWithParam<Geometry> {
protected:
    void SetUp() override {
        rig_ = std::make_unique<Rig>(ConfigOf(GetParam()));
        ASSERT_TRUE(rig_->FontInstalled()) << "DejaVu fonts (fonts-dejavu-core) missing";
        ASSERT_TRUE(rig_->Create());
    }
    FrameBufferDevice& D() { return rig_->device; }
    std::unique_ptr<Rig> rig_;
};

TEST_P(TextRendering, AlignmentPlacesTheMeasuredTextInTheWidth) {
    const std::string text = "Illi";
    const int len = Width(D(), 28, text);
    ASSERT_GT(len, 20);
    int first[4];
    const int alignments[4] = {0, 1, 2, 7};
    for (int i = 0; i < 4; ++i) {
        D().Clear();
        EXPECT_EQ(D().DrawText(text, 100, 100, 401, alignments[i], 28, kWhite), 0);
        first[i] = InkBox(*rig_).x0;
    }
    EXPECT_EQ(first[1] - first[0], (401 - len) / 2);
    EXPECT_EQ(first[2] - first[0], 401 - len);
    EXPECT_EQ(first[3], first[0]);  // unknown alignment: left
    // Too wide: stays at x and stops at the first character whose advance
    // reaches x + width (here after three).
    const int w = Width(D(), 28, "I");
    D().Clear();
    D().DrawText("III", 100, 100, 1000, 0, 28, kWhite);
    const std::vector<uint32_t> three = Snapshot(*rig_);
    D().Clear();
    EXPECT_EQ(D().DrawText("IIIIIIIIII", 100, 100, 3 * w + 1, 1, 28, kWhite), -1);
    EXPECT_EQ(Segments(*rig_).size(), 3u);
    EXPECT_EQ(Snapshot(*rig_), three);
}

TEST_P(TextRendering, GlyphsAreClippedAtAllFourEdgesAndTheRestIsDrawn) {
    const std::string text = "Hgjy|W";
    D().DrawText(text, 200, 300, 700, 0, 40, kWhite);
    const std::vector<uint32_t> reference = Snapshot(*rig_);
    struct Shifted {
        const char* edge;
        int x, y;
    };
    // Each placement moves the reference drawing across one edge.
    for (const Shifted& s : {Shifted{"left", -15, 300}, Shifted{"right", 640, 300},
                             Shifted{"top", 200, 12}, Shifted{"bottom", 200, 585}}) {
        SCOPED_TRACE(s.edge);
        D().Clear();
        EXPECT_EQ(D().DrawText(text, s.x, s.y, 700, 0, 40, kWhite), 0);
        const int dx = s.x - 200, dy = s.y - 300;
        int drawn = 0;
        for (int y = 0; y < 576; ++y) {
            for (int x = 0; x < 720; ++x) {
                int rx = x - dx, ry = y - dy;
                uint32_t want = (rx >= 0 && rx < 720 && ry >= 0 && ry < 576) ? reference[ry * 720 + rx] : 0;
                ASSERT_EQ(rig_->At(x, y), want) << x << "," << y;
                drawn += want != 0;
            }
        }
        EXPECT_GT(drawn, 20);
    }
    // In a back buffer glyphs stop at its last line.
    D().Clear();
    ASSERT_EQ(D().AllocateBackBuffer(30, 0), 1);
    D().SelectBackBuffer(true);
    D().DrawText(text, 200, 28, 700, 0, 40, kWhite);
    D().BlitBackBuffer(300 - 28);
    D().FreeBackBuffer();
    for (int y = 0; y < 576; ++y) {
        for (int x = 0; x < 720; ++x) {
            uint32_t want = (y >= 272 && y < 302) ? reference[y * 720 + x] : 0;
            ASSERT_EQ(rig_->At(x, y), want) << x << "," << y;
        }
    }
}

TEST_P(TextRendering, HostileCoordinatesSizesAndBytesWriteNothingOutside) {
    std::string all;
    for (int c = 1; c < 256; ++c) all += char(c);
    std::string log;
    testing::internal::CaptureStderr();
    EXPECT_EQ(D().DrawText(all, -5, 20, 100000, 0, 28, kWhite), 0);
    D().DrawText(all + all + all, INT_MAX - 3, INT_MIN, INT_MAX, 1, 28, kWhite);
    D().DrawText(all, INT_MIN, INT_MAX, INT_MAX, 2, 28, kWhite);
    D().DrawText(std::string(20000, 'W'), 0, 570, INT_MAX, 0, 60, kWhite);
    D().DrawText(all, 0, 300, -50, 1, 28, kWhite);
    log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "");
    EXPECT_TRUE(rig_->Fb().TailIntact());
    // Sizes the glyph cache cannot hold: every character is logged and skipped.
    D().Clear();
    for (int size : {0, -1, 256, 100000}) {
        SCOPED_TRACE(size);
        testing::internal::CaptureStderr();
        EXPECT_EQ(D().DrawText("Ab", 100, 100, 500, 1, size, kWhite), 0);
        log = testing::internal::GetCapturedStderr();
        const std::string a = "TEKO: TFB: <FTC_SBitCache_Lookup for Char \"A\" failed with Errorcode 0x17>\n";
        const std::string b = "TEKO: TFB: <FTC_SBitCache_Lookup for Char \"b\" failed with Errorcode 0x17>\n";
        EXPECT_EQ(log, a + b + a + b);  // measured for the centring, then drawn
        EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 0);
    }
    // A zero byte ends the text.
    EXPECT_EQ(Width(D(), 28, std::string("AB\0CD", 5)), Width(D(), 28, "AB"));
}

// Text drawn while the slant is on leans right by a fifth of its height;
// the characters "<" ">" "_" are letters like any other.
TEST_P(TextRendering, SlantHoldsForTheTextsDrawnWhileItIsOn) {
    D().SetSlant(true);
    D().DrawText("I", 100, 100, 600, 0, 40, kWhite);
    D().SetSlant(false);
    D().DrawText("I<", 200, 100, 600, 0, 40, kWhite);
    auto segs = Segments(*rig_);
    ASSERT_EQ(segs.size(), 3u);
    const Box box = InkBox(*rig_, segs[0].first, 0, segs[0].second + 1, 576);
    EXPECT_GE(Slant(*rig_, segs[0].first, segs[0].second + 1), int(float(box.y1 - box.y0 + 1) * 0.2f));
    EXPECT_EQ(Slant(*rig_, segs[1].first, segs[1].second + 1), 0);
    EXPECT_GT(rig_->Ink(segs[2].first, 0, segs[2].second + 1, 576), 10);
}

TEST_P(TextRendering, MissingGlyphsAreDrawnAsSpaces) {
    // U+0001 and U+10FFFF have no glyph: a space, advance included.
    EXPECT_EQ(D().DrawText("\x01\xF4\x8F\xBF\xBF", 100, 100, 600, 0, 40, kWhite), 0);
    EXPECT_EQ(rig_->Ink(0, 0, 720, 576), 0);
    EXPECT_EQ(Width(D(), 40, "\x01\xF4\x8F\xBF\xBF"), Width(D(), 40, "  "));
}

INSTANTIATE_TEST_SUITE_P(Screens, TextRendering,
                         testing::Values(Geometry{"Packed32", 32, 0}, Geometry{"Packed8", 8, 0},
                                         Geometry{"WideStride32", 32, 4096}),
                         [](const testing::TestParamInfo<Geometry>& info) {
                             return std::string(info.param.name);
                         });

// The expectation straight from FreeType: one mono glyph at `size`.
struct FreeTypeFont {
    explicit FreeTypeFont(const char* path, int size) {
        FT_Init_FreeType(&lib);
        ok = FT_New_Face(lib, path, 0, &face) == 0 && FT_Set_Pixel_Sizes(face, size, size) == 0;
    }
    ~FreeTypeFont() {
        if (face) FT_Done_Face(face);
        FT_Done_FreeType(lib);
    }
    int Kern(char a, char b) {
        FT_Vector d{0, 0};
        FT_Get_Kerning(face, FT_Get_Char_Index(face, a), FT_Get_Char_Index(face, b),
                       FT_KERNING_DEFAULT, &d);
        return int(d.x >> 6);
    }
    FT_GlyphSlot Load(char c) {
        FT_Load_Char(face, FT_ULong(c), FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO);
        return face->glyph;
    }
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    bool ok = false;
};

TEST(TextMetrics, KerningFollowsTheFontAtTheRequestedSize) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    FrameBufferDevice& d = rig.device;
    FreeTypeFont ft(display_test::kSans, 60);
    ASSERT_TRUE(ft.ok);
    const int kern = ft.Kern('A', 'V');
    ASSERT_LT(kern, 0);  // DejaVu Sans has a kern table
    const int pair = Width(d, 60, "AV");
    EXPECT_EQ(pair, Width(d, 60, "A") + Width(d, 60, "V") + kern);
    // Every glyph now comes from the cache; the kerning must still be scaled
    // at the size asked for, not at the size rendered last.
    FreeTypeFont other(display_test::kSans, 30);
    ASSERT_NE(other.Kern('A', 'V'), kern);
    Width(d, 30, "AV");
    EXPECT_EQ(Width(d, 60, "AV"), pair);
    // Drawn: V sits kern pixels closer than its advance alone would put it.
    d.DrawText("A", 100, 200, 600, 0, 60, kWhite);
    d.DrawText("V", 100 + Width(d, 60, "A") + kern, 200, 600, 0, 60, kWhite);
    const std::vector<uint32_t> apart = Snapshot(rig);
    d.Clear();
    d.DrawText("AV", 100, 200, 600, 0, 60, kWhite);
    EXPECT_EQ(Snapshot(rig), apart);
    // A face without kerning data: the pair is the sum.
    ASSERT_TRUE(rig.Create("/usr/share/fonts/mono.ttf"));
    EXPECT_EQ(Width(d, 60, "AV"), Width(d, 60, "A") + Width(d, 60, "V"));
}

TEST(TextMetrics, StringSizeGivesAdvancesTallestBitmapAndDeepestDescent) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    int w = 1, h = 1, dep = 1;
    rig.device.GetStringSize(28, "", w, h, dep);
    EXPECT_EQ(w + h + dep, 0);
    FreeTypeFont ft(display_test::kSans, 28);
    ASSERT_TRUE(ft.ok);
    int advance = 0, height = 0, descent = 0;
    for (char c : std::string("Hg(")) {
        FT_GlyphSlot g = ft.Load(c);
        advance += int(g->advance.x >> 6);
        height = std::max(height, int(g->bitmap.rows));
        descent = std::max(descent, int(g->bitmap.rows) - g->bitmap_top);
    }
    rig.device.GetStringSize(28, "Hg(", w, h, dep);
    EXPECT_EQ(w, advance + ft.Kern('H', 'g') + ft.Kern('g', '('));
    EXPECT_EQ(h, height);
    EXPECT_EQ(dep, descent);
    EXPECT_GT(dep, 3);
}

TEST(TextMetrics, MeasuringOnAnotherThreadNeverDisturbsDrawing) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    FrameBufferDevice& d = rig.device;
    const std::string text = "AVAWAY <Tal> _To_ AV";
    int w0, h0, d0;
    d.GetStringSize(17, text, w0, h0, d0);
    d.DrawText(text, 10, 100, 700, 1, 31, kWhite);
    const std::vector<uint32_t> reference = Snapshot(rig);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread measurer([&] {
        while (!stop) {
            int w, h, dep;
            d.GetStringSize(17, text, w, h, dep);
            if (w != w0 || h != h0 || dep != d0) ++wrong;
        }
    });
    int mismatches = 0;
    for (int i = 0; i < 60; ++i) {
        d.Lock();
        d.Clear();
        d.DrawText(text, 10, 100, 700, 1, 31, kWhite);
        if (i % 10 == 0) mismatches += Snapshot(rig) != reference;
        d.UnLock();
    }
    stop = true;
    measurer.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(mismatches, 0);
}

// A Teletext-style subtitle as a box would show it, saved for a person to
// look at: one line on a background box, one with an eight-copy outline.
TEST(TextPicture, WritesATeletextLineWithBoxAndOutlineAsPng) {
    Rig rig;
    ASSERT_TRUE(rig.FontInstalled());
    ASSERT_TRUE(rig.Create());
    FrameBufferDevice& d = rig.device;
    const std::string text = "Hej! S\xE5 h\xE4r ser <kursiv> text ut, AVA Wo.";
    int w, h, dep;
    d.GetStringSize(28, text, w, h, dep);
    const int x = (720 - w) / 2;
    d.Lock();
    // Background box.
    ASSERT_EQ(d.AllocateBackBuffer(44, 0), 1);
    d.SelectBackBuffer(true);
    d.DrawFilledRect(x - 6, 0, w + 12, 44, 0x000000C0);
    d.DrawText(text, x, 32, w + 10, 0, 28, 0xFFFFFFFF);
    d.BlitBackBuffer(440);
    d.SelectBackBuffer(false);
    d.FreeBackBuffer();
    // Outline: eight black copies around the yellow text.
    ASSERT_EQ(d.AllocateBackBuffer(44, 0), 1);
    d.SelectBackBuffer(true);
    for (int dy = -2; dy <= 2; dy += 2)
        for (int dx = -2; dx <= 2; dx += 2)
            if (dx || dy) d.DrawText(text, x + dx, 32 + dy, w + 10, 0, 28, 0x000000FF);
    d.DrawText(text, x, 32, w + 10, 0, 28, 0xFFFF00FF);
    d.BlitBackBuffer(500);
    d.SelectBackBuffer(false);
    d.FreeBackBuffer();
    d.UnLock();
    const std::string png = std::string(TEKO_BINARY_DIR) + "/display_text_line.png";
    ASSERT_TRUE(rig.Fb().WritePng(png));
    EXPECT_EQ(rig.Fb().Argb(x - 6, 440), 0xC0000000u);  // box: translucent black
    EXPECT_GT(rig.Ink(0, 440, 720, 484), 44 * (w + 12));
    std::printf("Text line picture: %s\n", png.c_str());
}

}  // namespace
