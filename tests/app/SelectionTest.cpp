// The subtitle selection of the running daemon: which stream it starts for
// each order of tries that the configuration gives, what it logs on the
// way, and what the status line shows.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/AppHarness.h"

namespace {

using apptest::AppHarness;
using apptest::Dvb;
using apptest::Service;
using apptest::Txt;

// Service 1000 is "3e8" in the channel list: the hand-off file gives it in
// decimal, the list in hexadecimal.
constexpr int kService = 1000;

// The decisions of a log, in order: the tries ("dvb?", "ext?", "txt?"), the
// hit and the start lines (the "TEKO: " prefix dropped).
std::vector<std::string> Decisions(const std::string& log) {
    const std::pair<const char*, const char*> tries[] = {
        {"TEKO: PMT::Looking for DVB Subtiles...", "dvb?"},
        {"TEKO: PMT::Looking for TXT Subtiles...", "txt?"},
        {"TEKO: EXT::Checking for TXT Subtitles in external file...", "ext?"}};
    const char* kept[] = {"TEKO: DVB FROM", "TEKO: TXT ", "TEKO: -> ", "TEKO: Start ", "TEKO: Playback", "TEKO: VideoFormat"};
    std::vector<std::string> out;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        for (const auto& t : tries)
            if (line == t.first) out.push_back(t.second);
        for (const char* k : kept)
            if (line.rfind(k, 0) == 0) out.push_back(line.substr(6));
    }
    return out;
}

struct Case {
    const char* name;
    std::string config;
    std::string channels;
    Service service;
    std::vector<std::string> decisions;
    std::string status;  // the status line shown after the selection
};

const char kStartDvb[] = "Start DVB Subtile: PID=5e8";
const char kStartTxt[] = "Start TXT Subtile: PID=6e8, PAGE=888";
const char kNothing[] = "-> Let's fall into zzzzzzz...";

std::vector<Case> Cases() {
    const std::string osd = "OSDMessages 1\n";
    const std::string list = "3e8 777 150 swe\n";
    return {
        {"defaults: DVB first in the primary language", osd, "", {kService, {Dvb("swe")}, {Txt("swe")}},
         {"dvb?", "DVB FROM PMT: swe, PID=5e8", "-> Let's start DVB Subtitles", kStartDvb},
         "DVB(Stream) Subtitles swe 0x5e8"},
        {"defaults: the primary language before DVB", osd, "", {kService, {Dvb("eng")}, {Txt("swe")}},
         {"dvb?", "ext?", "txt?", "TXT FROM PMT: swe, PID=6e8, PAGE=888", "-> Let's start TXT Subtitles",
          kStartTxt, "VideoFormat: 16"},
         "TXT(Stream) Subtitles swe 0x6e8 888"},
        {"defaults: the secondary language's DVB", osd, "", {kService, {Dvb("eng")}, {Txt("ger")}},
         {"dvb?", "ext?", "txt?", "dvb?", "DVB FROM PMT: eng, PID=5e8", "-> Let's start DVB Subtitles",
          kStartDvb},
         "DVB(Stream) Subtitles eng 0x5e8"},
        {"override: the list before the PMT", osd + "UseExternalChannels 2\n", list,
         {kService, {}, {Txt("swe")}},
         {"dvb?", "ext?", "TXT EXTERNAL OVERRIDE: swe, PID=777, PAGE=150", "-> Let's start TXT Subtitles",
          "Start TXT Subtile: PID=777, PAGE=150", "VideoFormat: 16"},
         "TXT(Override) Subtitles swe 0x777 150"},
        {"fallback: the PMT before the list", osd + "UseExternalChannels 1\n", list,
         {kService, {}, {Txt("swe")}},
         {"dvb?", "txt?", "TXT FROM PMT: swe, PID=6e8, PAGE=888", "-> Let's start TXT Subtitles", kStartTxt,
          "VideoFormat: 16"},
         "TXT(Stream) Subtitles swe 0x6e8 888"},
        {"fallback: the list when the PMT has no page", osd + "UseExternalChannels 1\n", list,
         {kService, {}, {Txt("ger")}},
         {"dvb?", "txt?", "ext?", "TXT EXTERNAL FALLBACK: swe, PID=777, PAGE=150",
          "-> Let's start TXT Subtitles", "Start TXT Subtile: PID=777, PAGE=150", "VideoFormat: 16"},
         "TXT(Fallback) Subtitles swe 0x777 150"},
        {"no list: never consulted", osd + "UseExternalChannels 0\n", list, {kService, {}, {Txt("ger")}},
         {"dvb?", "txt?", "dvb?", "txt?", kNothing},
         ""},
        {"DVB last: Teletext first", osd + "UseDVBFirst 0\n", "", {kService, {Dvb("swe")}, {Txt("swe")}},
         {"ext?", "txt?", "TXT FROM PMT: swe, PID=6e8, PAGE=888", "-> Let's start TXT Subtitles", kStartTxt,
          "VideoFormat: 16"},
         "TXT(Stream) Subtitles swe 0x6e8 888"},
        {"DVB last, primary language: two blanks", osd + "UseDVBFirst 0\n", "",
         {kService, {Dvb("swe")}, {Txt("eng")}},
         {"ext?", "txt?", "dvb?", "DVB FROM PMT: swe, PID=5e8", "-> Let's start DVB Subtitles", kStartDvb},
         "DVB(Stream) Subtitles  swe 0x5e8"},
        {"DVB last, secondary language: one blank", osd + "UseDVBFirst 0\n", "",
         {kService, {Dvb("eng")}, {Txt("ger")}},
         {"ext?", "txt?", "dvb?", "ext?", "txt?", "dvb?", "DVB FROM PMT: eng, PID=5e8",
          "-> Let's start DVB Subtitles", kStartDvb},
         "DVB(Stream) Subtitles eng 0x5e8"},
        {"DVB never", osd + "UseDVBFirst 2\n", "", {kService, {Dvb("swe"), Dvb("eng")}, {Txt("ger")}},
         {"ext?", "txt?", "ext?", "txt?", kNothing},
         ""},
        {"the configured languages and type", osd + "Language ger\nSecondaryLanguage fre\nSubtileType 5\n", "",
         {kService, {}, {Txt("ger", 2), Txt("fre", 5)}},
         {"dvb?", "ext?", "txt?", "dvb?", "ext?", "txt?", "TXT FROM PMT: fre, PID=6e8, PAGE=888",
          "-> Let's start TXT Subtitles", kStartTxt, "VideoFormat: 16"},
         "TXT(Stream) Subtitles fre 0x6e8 888"},
    };
}

// Every order of tries, for each value of UseDVBFirst and UseExternalChannels:
// one selection on the first poll, then the status band on the next.
TEST(Selection, TriesInTheConfiguredOrderAndShowsTheChoice) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        AppHarness h;
        h.Config(c.config);
        if (!c.channels.empty()) h.Channels(c.channels);
        h.Mux({c.service});
        h.HandOff(kService);
        const std::vector<uint32_t> expected = h.ExpectedBand(c.status);
        std::vector<uint32_t> band;
        bool decoding = false;
        h.Run(
            [&](int poll) {
                if (poll == 2) {
                    band = h.lastMainBand;
                    decoding = h.app->decoding;
                }
                return poll < 3;
            },
            3);
        EXPECT_EQ(Decisions(h.Pass(1)), c.decisions);
        EXPECT_EQ(decoding, c.status != "");
        EXPECT_TRUE(band == expected) << "the status band is not \"" << c.status << "\"";
        EXPECT_EQ(Decisions(h.Pass(2)), std::vector<std::string>{});
    }
}

// Among a language's DVB entries "SubtileType" 2 takes the first normal
// one (subtitling_type 0x10-0x16) and 5 the first for the hard of hearing
// (0x20-0x26); the other kind when the language has nothing else; other
// values take the first entry. The log says the same either way.
TEST(Selection, DvbEntryOfTheViewersKind) {
    using Entries = std::vector<ts::SubtitlingEntry>;
    const Entries both{{"eng", 0x14, 9, 9}, {"fre", 0x24, 1, 11}, {"fre", 0x14, 2, 12}};
    const Entries hoh{{"fre", 0x20, 1, 11}, {"fre", 0x24, 2, 12}};
    const Entries normal{{"fre", 0x10, 1, 11}, {"fre", 0x14, 2, 12}};
    const Entries order{{"fre", 0x24, 1, 11}, {"fre", 0x10, 2, 12}, {"fre", 0x14, 3, 13}};
    const struct {
        int type;
        Entries entries;
        int page;
    } cases[] = {{2, both, 2}, {5, both, 1}, {2, hoh, 1}, {5, hoh, 1}, {5, normal, 1}, {2, order, 2}, {5, order, 1}, {3, both, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("SubtileType " + std::to_string(c.type) + ", page " + std::to_string(c.page));
        AppHarness h;
        h.Config("Language fre\nSubtileType " + std::to_string(c.type) + "\n");
        h.Mux({{kService, c.entries, {}}});
        h.HandOff(kService);
        int composition = -1, ancillary = -1;
        h.Run(
            [&](int poll) {
                composition = h.app->dvbSubtitle.compositionPageId;
                ancillary = h.app->dvbSubtitle.ancillaryPageId;
                return poll < 2;
            },
            2);
        EXPECT_EQ(composition, c.page);
        EXPECT_EQ(ancillary, 10 + c.page);
        EXPECT_EQ(Decisions(h.Pass(1)), (std::vector<std::string>{"dvb?", "DVB FROM PMT: fre, PID=5e8",
                                                                 "-> Let's start DVB Subtitles", kStartDvb}));
    }
}

// The two DVB-last status lines differ on screen, so the comparison above
// tells them apart.
TEST(Selection, TheTwoDvbLastStatusLinesDiffer) {
    AppHarness h;
    EXPECT_NE(h.ExpectedBand("DVB(Stream) Subtitles  swe 0x5e8"), h.ExpectedBand("DVB(Stream) Subtitles swe 0x5e8"));
}

// A recording (Seekable non-zero) holds Teletext back by "RecDelay"; DVB
// subtitles get no delay. The PES of both streams carry no PTS, so a delay
// would be applied (and logged) to each packet.
TEST(Selection, PlaybackDelaysTeletextOnly) {
    {
        AppHarness h;
        h.Config("RecDelay 3\n");
        h.Mux({{kService, {}, {Txt("swe")}}});
        h.HandOff(kService, 2, 1);
        h.Run([](int) { return true; }, 12);
        EXPECT_EQ(Decisions(h.Pass(1)).back(), "Playback found, RecDelay:3");
        EXPECT_GT(h.Count("TEKO: Added RecDelay!\n"), 0);
    }
    {
        AppHarness h;
        h.Config("RecDelay 3\n");
        h.Mux({{kService, {Dvb("swe")}, {}}});
        h.HandOff(kService, 2, 1);
        h.Run([](int) { return true; }, 12);
        EXPECT_EQ(Decisions(h.Pass(1)).back(), kStartDvb);
        EXPECT_EQ(h.Count("Playback found"), 0);
        EXPECT_EQ(h.Count("TEKO: Added RecDelay!\n"), 0);
        EXPECT_GT(h.Count("TEKO: --------- RECEIVE PES START ---------\n"), 0);
        EXPECT_GT(h.readerInkBlits, 0);  // the DVB region was drawn
    }
}

}  // namespace
