// Subtitles the viewer's way, in tekod-sim screens of streams made with the
// stream builder: Teletext speakers in their broadcast colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "E2eTest.h"
#include "EmulatedFrameBuffer.h"
#include "TimedStream.h"
#include "support/TeletextBuilder.h"
#include "support/ZvbiReference.h"

namespace e2e {
namespace {

constexpr int kPid = 0x210;

// The data units of Teletext page 888 with `rows` (row, text inside the
// boxes).
std::vector<ts::Bytes> PageUnits(const std::vector<std::pair<int, std::string>>& rows) {
    ttx::Header header;
    header.magazine = 8;
    header.page = 0x88;
    std::vector<ts::Bytes> units = {ttx::DataUnit(ttx::HeaderPacket(header))};
    for (const auto& row : rows) units.push_back(ttx::DataUnit(ttx::RowPacket(8, row.first, ttx::SubtitleRow(row.second))));
    return units;
}

// The page as libzvbi takes it: a unit a PES, with time stamps, and two
// headers of the magazine's next pages after it (libzvbi ends a page at
// the next header of its magazine, and hands a unit on at the next PES).
std::vector<std::vector<uint8_t>> ForLibzvbi(std::vector<ts::Bytes> units) {
    ttx::Header next;
    next.magazine = 8;
    for (int page : {0x89, 0x8A}) {
        next.page = page;
        units.push_back(ttx::DataUnit(ttx::HeaderPacket(next)));
    }
    std::vector<std::vector<uint8_t>> pes;
    int64_t pts = 90000;
    for (const ts::Bytes& unit : units) pes.push_back(ttx::Pes({unit}, pts += 3600));
    return pes;
}

// The colours a screen shows left to right, each once per stretch, for
// each band of lines with text, top down; `colourOf` gives a pixel's
// Teletext colour, or -1 for one that is none (transparent, the outline,
// the box).
template <typename ColourOf>
std::vector<std::vector<int>> ColourBands(const dvbref::Screen& screen, int width, int height, ColourOf colourOf) {
    std::vector<std::vector<int>> bands;
    for (int y = 0; y < height;) {
        int end = y;
        const auto inked = [&](int line) {
            for (int x = 0; x < width; ++x)
                if (colourOf(screen[size_t(line) * width + x]) >= 0) return true;
            return false;
        };
        while (end < height && inked(end)) ++end;
        if (end == y) {
            ++y;
            continue;
        }
        std::vector<int> colours;
        for (int x = 0; x < width; ++x)
            for (int line = y; line < end; ++line) {
                const int c = colourOf(screen[size_t(line) * width + x]);
                if (c < 0) continue;
                if (colours.empty() || colours.back() != c) colours.push_back(c);
                break;
            }
        bands.push_back(colours);
        y = end;
    }
    return bands;
}

// Two speakers on two rows and two colours on one row, as libzvbi reads
// the page, and as the screens show it: in their colours with
// TeletextColors 1 (at 8 bpp through PaletteTeletextColors), in the text
// colour with 0. On a 1280 x 720 screen too.
TEST(Viewer, TeletextSpeakersInTheirBroadcastColours) {
    if (!ttxref::Available()) GTEST_SKIP() << "libzvbi missing";
    const std::vector<ts::Bytes> units =
        PageUnits({{18, "\x03Yellow speaker"}, {20, "\x06" "Cyan speaker"}, {22, "\x03Two \x02" "colours"}});
    TimedStream stream({{1, 0x100, 0x101, {{0x06, kPid, ts::TeletextDescriptor({{"fre", 2, 0, 0x88}})}}}});
    for (int ms = 0; ms < 3000; ms += 500) stream.AddPes(ms, kPid, ttx::Pes(units));
    const std::vector<ttxref::Page> reference = ttxref::ZvbiPages(ForLibzvbi(units), 0x888);
    ASSERT_FALSE(reference.empty());
    std::vector<std::vector<int>> broadcast;
    for (const ttxref::Line& line : reference.back().lines) broadcast.push_back(line.colours);
    ASSERT_EQ(broadcast, (std::vector<std::vector<int>>{{3}, {6}, {3, 2}}));

    TempDir tmp;
    const std::string ts = tmp.Path() + "/colours.ts";
    const ts::Bytes built = stream.Build(3000);
    WriteText(ts, std::string(built.begin(), built.end()));
    // 8 bpp: indexes 40-47 for the eight colours.
    const std::string indexes = "PaletteTeletextColors 40,41,42,43,44,45,46,47\n";
    const int rgb[8] = {0x000000, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    const struct {
        int bpp, width, height;
    } kScreens[] = {{32, 720, 576}, {8, 720, 576}, {32, 1280, 720}};
    for (const auto& s : kScreens)
        for (int asBroadcast : {1, 0}) {
            const int bpp = s.bpp;
            const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
            SCOPED_TRACE(size + " " + std::to_string(bpp) + " bpp, TeletextColors " + std::to_string(asBroadcast));
            const std::string out = tmp.Path() + "/out" + size + std::to_string(bpp) + std::to_string(asBroadcast);
            const std::string config =
                WriteConfig(tmp.Path(), "fre", "TeletextColors " + std::to_string(asBroadcast) + "\n" + indexes);
            std::vector<std::string> args = RunArgs(ts, out, config, 1, bpp);
            args.insert(args.end(), {"--raw", "--size", size});
            const SimResult sim = RunSim(args, out);
            ASSERT_EQ(sim.status, 0) << sim.err;
            ASSERT_FALSE(sim.changes.empty());
            const dvbref::Screen screen = ReadScreen(out, sim.changes.front(), bpp, s.width, s.height);
            const auto colourOf = [&](uint32_t pixel) {
                for (int c = 1; c < 8; ++c)
                    if (bpp == 32 ? pixel == (0xFF000000u | uint32_t(rgb[c])) : pixel == uint32_t(40 + c)) return c;
                // With colours off, every run in the text colour (white, 31).
                return bpp == 8 && pixel == 31 ? 7 : -1;
            };
            const std::vector<std::vector<int>> shown = ColourBands(screen, s.width, s.height, colourOf);
            EXPECT_EQ(shown, asBroadcast ? broadcast : std::vector<std::vector<int>>(3, {7}));
        }
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive; right < 0: empty
};

// Where a DVB subtitle shows: the pixels below the status line's band that
// are neither transparent nor a menu's.
Box InkBox(const dvbref::Screen& screen, int bpp, int width, int height) {
    Box b;
    for (int y = height / 6; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t p = screen[size_t(y) * width + x];
            const bool ink = bpp == 32 ? (p >> 24) != 0 && p != EmulatedFrameBuffer::kMenuWord
                                       : p != 0 && p != 0xF0 && p != EmulatedFrameBuffer::kMenuIndex;
            if (!ink) continue;
            b.left = std::min(b.left, x), b.right = std::max(b.right, x);
            b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
        }
    return b;
}

// The demo's two-line DVB subtitle of 4.6 s and the one of 7.1 s, as the
// settings place them, against the same subtitles as broadcast: moved up,
// zoomed about their bottom centre, on a box, and above a menu over the
// bottom third while it is up (back in place once it has gone). At 32 and
// 8 bits per pixel and on a 1280 x 720 screen.
TEST(Viewer, DvbSubtitlesWhereTheViewerWantsThem) {
    TempDir tmp;
    const struct Screen {
        int bpp, width, height;
    } kScreens[] = {{32, 720, 576}, {8, 720, 576}, {32, 1280, 720}};
    const struct Variant {
        const char* name;
        std::string config;
        bool menu;
    } kVariants[] = {{"as broadcast", "", false},
                     {"up 40", "DVBYOffset -40\n", false},
                     {"zoom 150", "DVBZoom 150\n", false},
                     {"box", "DVBBackground 1\nDVBBackgroundColor 202020ff\nPaletteDVBBackgroundColor 12\n", false},
                     {"above the menu", "CollisionDetection 2\n", true}};
    for (const Screen& s : kScreens) {
        const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
        std::vector<std::pair<Box, Box>> base;  // the two subtitles as broadcast
        for (const Variant& v : kVariants) {
            SCOPED_TRACE(size + " " + std::to_string(s.bpp) + " bpp, " + v.name);
            const std::string out = tmp.Path() + "/" + size + std::to_string(s.bpp) + v.name;
            const std::string config = tmp.Path() + "/viewer.conf";
            WriteText(config, "Language fre\nSecondaryLanguage eng\nOSDMessages 1\n" + v.config);
            std::vector<std::string> extra = {"--config", config,          "--raw", "--bpp", std::to_string(s.bpp),
                                              "--size",   size,            "--duration", "8"};
            const int menuTop = s.height * 2 / 3;
            if (v.menu) extra.insert(extra.end(), {"--menu", "4:6:0," + std::to_string(menuTop) + "," +
                                                                 std::to_string(s.width) + "," +
                                                                 std::to_string(s.height - menuTop)});
            const SimResult r = RunDemo(out, extra);
            ASSERT_TRUE(r.Ran());
            Box first, second;
            for (const Change& c : r.changes) {
                if (c.ms >= 4600 && c.ms < 4700) first = InkBox(ReadScreen(out, c, s.bpp, s.width, s.height), s.bpp, s.width, s.height);
                if (c.ms >= 7100 && c.ms < 7200) second = InkBox(ReadScreen(out, c, s.bpp, s.width, s.height), s.bpp, s.width, s.height);
            }
            ASSERT_GE(first.right, 0);
            ASSERT_GE(second.right, 0);
            if (base.empty()) {
                base.push_back({first, second});
                continue;
            }
            const Box& b = base[0].first;
            const std::string name = v.name;
            if (name == "up 40") {
                EXPECT_EQ(first.top, b.top - 40 * s.height / 576);
                EXPECT_EQ(first.bottom, b.bottom - 40 * s.height / 576);
            } else if (name == "zoom 150") {
                EXPECT_NEAR(first.right - first.left, (b.right - b.left) * 3 / 2, 3);
                EXPECT_NEAR(first.bottom, b.bottom, 2);
                EXPECT_NEAR(first.left + first.right, b.left + b.right, 3);
            } else if (name == "box") {
                // The box covers at least the subtitle's extent.
                EXPECT_LE(first.left, b.left);
                EXPECT_GE(first.right, b.right);
                EXPECT_LE(first.top, b.top);
                EXPECT_GE(first.bottom, b.bottom);
            } else {
                EXPECT_LT(first.bottom, menuTop) << "drawn over the menu";
                EXPECT_EQ(first.bottom - first.top, b.bottom - b.top);
                EXPECT_EQ(second.top, base[0].second.top) << "not back in place once the menu went";
            }
        }
    }
}

}  // namespace
}  // namespace e2e
