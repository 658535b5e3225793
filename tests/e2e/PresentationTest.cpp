// What the viewer sees of whole pages and of the front end's menus, on the
// demo stream, with FBIO_BLIT and on a driver without it (the simulator
// then takes a screen whenever a daemon thread waits).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "E2eTest.h"
#include "EmulatedFrameBuffer.h"

namespace e2e {
namespace {

struct Rect {
    int x, y, w, h;
    std::string Words() const {
        return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(w) + "," + std::to_string(h);
    }
};

// Whether every pixel of the rectangle shows the menu, on a screen `width`
// pixels wide.
bool MenuWhole(const dvbref::Screen& screen, const Rect& r, bool words, int width = dvbref::kWidth) {
    const uint32_t menu = words ? EmulatedFrameBuffer::kMenuWord : EmulatedFrameBuffer::kMenuIndex;
    if (screen.size() < size_t(width) * size_t(r.y + r.h)) return false;
    for (int row = r.y; row < r.y + r.h; ++row)
        for (int column = r.x; column < r.x + r.w; ++column)
            if (screen[size_t(row) * width + column] != menu) return false;
    return true;
}

// A page change is one screen change: no two changes at the same moment
// (a half-drawn page would show first), and a two-row Teletext page comes
// in one. A menu beside the subtitles, sharing their rows, survives every
// clear and redraw; one over the centre column holds the subtitles back
// until it goes. At 32 and 8 bits per pixel, with and without FBIO_BLIT,
// and on an HD screen (the menus where they are on the standard one).
TEST(Presentation, WholePagesAndMenusThatSurviveTheClears) {
    const struct {
        const char* name;
        std::vector<std::string> options;
        int bpp, width, height;
    } kModes[] = {{"blit32", {}, 32, 720, 576},
                  {"direct32", {"--no-blit"}, 32, 720, 576},
                  {"direct8", {"--no-blit", "--bpp", "8"}, 8, 720, 576},
                  {"hd8", {"--bpp", "8", "--size", "1280x720"}, 8, 1280, 720}};
    for (const auto& mode : kModes) {
        SCOPED_TRACE(mode.name);
        TempDir tmp;
        const bool words = mode.bpp == 32;
        const auto onScreen = [&](const Rect& r) {
            return Rect{r.x * mode.width / 720, r.y * mode.height / 576, r.w * mode.width / 720,
                        r.h * mode.height / 576};
        };
        const Rect beside = onScreen({20, 430, 150, 130}), over = onScreen({0, 300, 720, 276});
        std::vector<std::string> options = mode.options;
        options.push_back("--raw");
        const SimResult plain = RunDemo(tmp.Path() + "/plain", options);
        ASSERT_TRUE(plain.Ran()) << plain.err;
        std::map<int64_t, int> at;
        int twoRows = 0;
        for (const Change& c : plain.changes) {
            EXPECT_EQ(++at[c.ms], 1) << c.png << " at " << c.ms << " ms: a second change at the same moment";
            twoRows += c.rows.size() == 2;
        }
        EXPECT_GE(twoRows, 3);

        options.insert(options.end(), {"--menu", "3:20:" + beside.Words(), "--menu", "38:50:" + over.Words()});
        const SimResult menu = RunDemo(tmp.Path() + "/menu", options);
        ASSERT_TRUE(menu.Ran()) << menu.err;
        int besideMenu = 0, underMenu = 0, afterMenu = 0;
        for (const Change& c : menu.changes) {
            // Menus go up and down at the daemon's polls.
            if (c.ms >= 3500 && c.ms <= 19500) {
                EXPECT_TRUE(MenuWhole(ReadScreen(menu.dir, c, mode.bpp, mode.width, mode.height), beside, words,
                                      mode.width))
                    << c.png;
                besideMenu += c.firstRow > beside.y - 30;
            }
            if (c.ms >= 38500 && c.ms <= 49500) underMenu += !c.text.empty();
            if (c.ms >= 50500) afterMenu += !c.text.empty();
        }
        EXPECT_GE(besideMenu, 5);
        EXPECT_EQ(underMenu, 0);
        EXPECT_GT(afterMenu, 0);
    }
    // CollisionDetection 0: drawn anyway, around a menu over the centre
    // column, never over it.
    TempDir tmp;
    WriteText(tmp.Path() + "/always.conf",
              ReadText(TEKO_SOURCE_DIR "/data/samples/demo.conf") + "\nCollisionDetection 0\n");
    const SimResult always = RunDemo(tmp.Path() + "/always", {"--raw", "--config", tmp.Path() + "/always.conf", "--menu",
                                                              "38:50:300,300,120,276"});
    ASSERT_TRUE(always.Ran()) << always.err;
    int drawn = 0;
    for (const Change& c : always.changes) {
        if (c.ms < 38500 || c.ms > 49500) continue;
        drawn += !c.text.empty();
        EXPECT_TRUE(MenuWhole(ReadScreen(always.dir, c, 32), {300, 300, 120, 276}, true)) << c.png;
    }
    EXPECT_GT(drawn, 0);
}

// The box of what a screen `width` pixels wide shows in rows [top, bottom)
// (right and bottom inclusive; right < 0 when nothing).
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Box InkBox(const dvbref::Screen& screen, int width, int top, int bottom) {
    Box b;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < width; ++x)
            if (screen[size_t(y) * width + x] >> 24)
                b = {std::min(b.left, x), std::min(b.top, y), std::max(b.right, x), std::max(b.bottom, y)};
    return b;
}

// On a 1280 x 720 screen the demo shows what it shows on 720 x 576, where
// it does there scaled: the same changes with the same Teletext lines, and
// the status band (above row 60 of 576) and the subtitles below it span
// the rows scaled by 720 / 576, centred on the column scaled by 1280 / 720
// (glyphs of another size round to other pixels: a few pixels of slack).
// The DVB pixels themselves are held against FFmpeg's by SampleRun.
TEST(Presentation, AnHdScreenShowsTheDemoWhereTheStandardOneDoesScaled) {
    TempDir tmp;
    const SimResult sd = RunDemo(tmp.Path() + "/sd", {"--raw"});
    const SimResult hd = RunDemo(tmp.Path() + "/hd", {"--raw", "--size", "1280x720"});
    ASSERT_EQ(sd.changes.size(), hd.changes.size());
    int compared = 0;
    Box text[2];  // the Teletext lines' rows over the run
    for (size_t j = 0; j < sd.changes.size(); ++j) {
        const Change &a = sd.changes[j], &b = hd.changes[j];
        SCOPED_TRACE(a.png);
        EXPECT_EQ(a.ms, b.ms);
        EXPECT_EQ(a.text, b.text);
        const dvbref::Screen small = ReadScreen(sd.dir, a, 32), large = ReadScreen(hd.dir, b, 32, 1280, 720);
        ASSERT_FALSE(small.empty() || large.empty());
        for (const bool band : {true, false}) {
            const Box s = band ? InkBox(small, 720, 0, 60) : InkBox(small, 720, 60, 576);
            const Box h = band ? InkBox(large, 1280, 0, 75) : InkBox(large, 1280, 75, 720);
            ASSERT_EQ(s.right < 0, h.right < 0);
            if (s.right < 0) continue;
            compared += !band;
            EXPECT_NEAR(h.top, s.top * 1.25, 4);
            EXPECT_NEAR(h.bottom, s.bottom * 1.25, 4);
            EXPECT_NEAR(h.left + h.right, (s.left + s.right) * 1280.0 / 720, 8);
            if (band || a.text.empty()) continue;
            text[0].top = std::min(text[0].top, s.top), text[0].bottom = std::max(text[0].bottom, s.bottom);
            text[1].top = std::min(text[1].top, h.top), text[1].bottom = std::max(text[1].bottom, h.bottom);
        }
    }
    EXPECT_GT(compared, 10);
    printf("[ e2e ] demo at 1280x720: %zu changes as at 720x576, %d with subtitles; Teletext lines in rows %d-%d "
           "(%d-%d at 720x576)\n",
           hd.changes.size(), compared, text[1].top, text[1].bottom, text[0].top, text[0].bottom);
}

}  // namespace
}  // namespace e2e
