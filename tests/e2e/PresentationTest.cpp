// What the viewer sees of whole pages and of the front end's menus, on the
// demo stream, with FBIO_BLIT and on a driver without it (the simulator
// then takes a screen whenever a daemon thread waits).
#include <gtest/gtest.h>

#include <map>

#include "E2eTest.h"
#include "EmulatedFrameBuffer.h"

namespace e2e {
namespace {

// Whether every pixel of the rectangle shows the menu.
bool MenuWhole(const dvbref::Screen& screen, int x, int y, int w, int h, bool words) {
    const uint32_t menu = words ? EmulatedFrameBuffer::kMenuWord : EmulatedFrameBuffer::kMenuIndex;
    for (int row = y; row < y + h; ++row)
        for (int column = x; column < x + w; ++column)
            if (screen[size_t(row) * dvbref::kWidth + column] != menu) return false;
    return screen.size() == size_t(dvbref::kWidth) * dvbref::kHeight;
}

// A page change is one screen change: no two changes at the same moment
// (a half-drawn page would show first), and a two-row Teletext page comes
// in one. A menu beside the subtitles, sharing their rows, survives every
// clear and redraw; one over the centre column holds the subtitles back
// until it goes. At 32 and 8 bits per pixel, with and without FBIO_BLIT.
TEST(Presentation, WholePagesAndMenusThatSurviveTheClears) {
    const struct {
        const char* name;
        std::vector<std::string> options;
    } kModes[] = {{"blit32", {}}, {"direct32", {"--no-blit"}}, {"direct8", {"--no-blit", "--bpp", "8"}}};
    for (const auto& mode : kModes) {
        SCOPED_TRACE(mode.name);
        TempDir tmp;
        const bool words = mode.options.size() < 3;
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

        options.insert(options.end(), {"--menu", "3:20:20,430,150,130", "--menu", "38:50:0,300,720,276"});
        const SimResult menu = RunDemo(tmp.Path() + "/menu", options);
        ASSERT_TRUE(menu.Ran()) << menu.err;
        int besideMenu = 0, underMenu = 0, afterMenu = 0;
        for (const Change& c : menu.changes) {
            // Menus go up and down at the daemon's polls.
            if (c.ms >= 3500 && c.ms <= 19500) {
                EXPECT_TRUE(MenuWhole(ReadScreen(menu.dir, c, words ? 32 : 8), 20, 430, 150, 130, words)) << c.png;
                besideMenu += c.firstRow > 400;
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
        EXPECT_TRUE(MenuWhole(ReadScreen(always.dir, c, 32), 300, 300, 120, 276, true)) << c.png;
    }
    EXPECT_GT(drawn, 0);
}

}  // namespace
}  // namespace e2e
