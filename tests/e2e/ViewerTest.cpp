// Subtitles the viewer's way, in tekod-sim screens of streams made with the
// stream builder: Teletext speakers in their broadcast colours.
#include <gtest/gtest.h>

#include <map>

#include "E2eTest.h"
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
std::vector<std::vector<int>> ColourBands(const dvbref::Screen& screen, ColourOf colourOf) {
    const int width = dvbref::kWidth, height = dvbref::kHeight;
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
// colour with 0.
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
    for (int bpp : {32, 8})
        for (int asBroadcast : {1, 0}) {
            SCOPED_TRACE(std::to_string(bpp) + " bpp, TeletextColors " + std::to_string(asBroadcast));
            const std::string out = tmp.Path() + "/out" + std::to_string(bpp) + std::to_string(asBroadcast);
            const std::string config =
                WriteConfig(tmp.Path(), "fre", "TeletextColors " + std::to_string(asBroadcast) + "\n" + indexes);
            std::vector<std::string> args = RunArgs(ts, out, config, 1, bpp);
            args.push_back("--raw");
            const SimResult sim = RunSim(args, out);
            ASSERT_EQ(sim.status, 0) << sim.err;
            ASSERT_FALSE(sim.changes.empty());
            const dvbref::Screen screen = ReadScreen(out, sim.changes.front(), bpp);
            const auto colourOf = [&](uint32_t pixel) {
                for (int c = 1; c < 8; ++c)
                    if (bpp == 32 ? pixel == (0xFF000000u | uint32_t(rgb[c])) : pixel == uint32_t(40 + c)) return c;
                // With colours off, every run in the text colour (white, 31).
                return bpp == 8 && pixel == 31 ? 7 : -1;
            };
            const std::vector<std::vector<int>> shown = ColourBands(screen, colourOf);
            EXPECT_EQ(shown, asBroadcast ? broadcast : std::vector<std::vector<int>>(3, {7}));
        }
}

}  // namespace
}  // namespace e2e
