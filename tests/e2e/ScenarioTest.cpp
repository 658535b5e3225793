// tekod-sim's command line, and the front end's part on streams made with
// the stream builder: DVB time-outs, the disable flag, and a zap.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <sys/stat.h>

#include "E2eTest.h"
#include "TimedStream.h"
#include "support/DvbSubBuilder.h"
#include "support/PngRead.h"
#include "support/TeletextBuilder.h"

namespace e2e {
namespace {

struct Screens {
    SimResult sim;
    std::vector<int> ink;  // pixels showing after each change
};

Screens RunStream(const std::string& ts, const std::string& out, const std::string& config, int service,
            std::vector<std::string> extra) {
    std::vector<std::string> args = RunArgs(ts, out, config, service, 32);
    args.insert(args.end(), extra.begin(), extra.end());
    Screens s;
    s.sim = RunSim(args, out);
    EXPECT_EQ(s.sim.status, 0) << s.sim.err;
    for (const Change& change : s.sim.changes) s.ink.push_back(dvbref::Ink(ReadScreen(out, change, 32), 32));
    return s;
}

std::string Write(const std::string& dir, const std::string& name, const ts::Bytes& bytes) {
    const std::string path = dir + "/" + name;
    WriteText(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

// ---- Command line ------------------------------------------------------

TEST(CommandLine, HelpListsEveryOption) {
    const SimResult help = RunSim({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--ts", "--out", "--service", "--zap", "--playback", "--aspect", "--disable",
                               "--reload", "--config", "--channels", "--translation", "--font", "--root", "--bpp", "--size",
                               "--stride", "--speed", "--loop", "--duration", "--raw", "--quiet", "--help", "--list",
                               "--language", "--type", "--pid", "--dvb", "--teletext", "--page-id", "--log-level", "--demux-outage"})
        EXPECT_NE(help.out.find(std::string("  ") + option + " "), std::string::npos) << option;
    const SimResult unknown = RunSim({"--no-such-option"}, "");
    EXPECT_EQ(unknown.status, 2);
}

// A missing, unreadable or non-TS file, a service not in the stream, or a
// screen that cannot be: one clear line and exit status 2, and nothing
// written.
TEST(CommandLine, BadStreamOrServiceStopsBeforeAnythingStarts) {
    TempDir tmp;
    const std::string text = tmp.Path() + "/not-a-stream.ts";
    WriteText(text, std::string(4000, 'x'));
    const std::string unreadable = tmp.Path() + "/unreadable.ts";
    WriteText(unreadable, "");
    chmod(unreadable.c_str(), 0);
    const std::string demo = TEKO_SOURCE_DIR "/data/samples/demo.ts";
    const std::vector<std::vector<std::string>> cases = {
        {"--ts", tmp.Path() + "/missing.ts"},
        {"--ts", text},
        {"--ts", unreadable},
        {"--ts", demo, "--service", "77"},
        {"--ts", demo, "--zap", "3:77"},
        {"--ts", demo, "--loop"},  // unpaced, a loop needs an end
        // Screens no box has, lines too short for the width, a menu off the screen.
        {"--ts", demo, "--size", "1280"},
        {"--ts", demo, "--size", "1280x"},
        {"--ts", demo, "--size", "3840x2160"},
        {"--ts", demo, "--size", "100x100"},
        {"--ts", demo, "--size", "1280x720", "--stride", "4000"},
        {"--ts", demo, "--size", "1280x720", "--stride", "1000000"},
        {"--ts", demo, "--size", "1280x720", "--menu", "1:2:1280,0,10,10"},
        {"--ts", demo, "--menu", "1:2:0,576,10,10"},
    };
    for (const auto& words : cases) {
        const std::string out = tmp.Path() + "/out";
        std::vector<std::string> args = words;
        args.insert(args.end(), {"--out", out, "--quiet"});
        const SimResult r = RunSim(args, "");
        EXPECT_EQ(r.status, 2) << words.back();
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.compare(0, 10, "tekod-sim:"), 0) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
        struct stat st;
        EXPECT_NE(stat((out + "/log.txt").c_str(), &st), 0) << "the daemon started for " << words.back();
    }
}

// Simulated time: the same stream and options give the same log, timeline
// and screens, unpaced or paced (a busy machine only makes the pace slower),
// and an empty configuration is a file to try like any other.
TEST(CommandLine, RunsAreTheSameByteForByteWhateverThePace) {
    TempDir tmp;
    auto run = [&](const std::string& name, std::vector<std::string> extra) {
        return RunDemo(tmp.Path() + "/" + name, extra);
    };
    const SimResult fast = run("fast", {});
    const SimResult paced = run("paced", {"--speed", "500"});
    ASSERT_GT(fast.changes.size(), 40u);
    EXPECT_EQ(fast.log, paced.log);
    EXPECT_EQ(ReadText(fast.dir + "/timeline.tsv"), ReadText(paced.dir + "/timeline.tsv"));
    for (const Change& c : fast.changes)
        EXPECT_EQ(ReadText(fast.dir + "/screens/" + c.png), ReadText(paced.dir + "/screens/" + c.png)) << c.png;
    WriteText(tmp.Path() + "/empty.conf", "");
    const SimResult empty = run("empty", {"--config", tmp.Path() + "/empty.conf", "--duration", "2"});
    EXPECT_NE(empty.log.find("TEKO: Application created."), std::string::npos);
}

// 8-bit screens as a box shows them: through the default palette, what
// the 32-bit screens show light (DVB text, Teletext text) is light too and
// the Teletext text colour is white; a --palette file recolours the entries
// it names. (Drivers without FBIO_BLIT: PresentationTest.cpp.)
TEST(CommandLine, EightBitScreensShowThroughTheBoxPalette) {
    TempDir tmp;
    WriteText(tmp.Path() + "/green.palette", "# text in green\n31 0xFF00FF00\n");
    auto run = [&](const std::string& name, std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--duration", "45", "--raw"});
        return RunDemo(tmp.Path() + "/" + name, extra);
    };
    const SimResult wide = run("wide", {});
    const SimResult box = run("box", {"--bpp", "8"});
    const SimResult green = run("green", {"--bpp", "8", "--palette", tmp.Path() + "/green.palette"});
    ASSERT_EQ(wide.changes.size(), box.changes.size());
    ASSERT_EQ(green.changes.size(), box.changes.size());
    auto luma = [](uint32_t rgb) { return ((rgb >> 16 & 0xFF) * 299 + (rgb >> 8 & 0xFF) * 587 + (rgb & 0xFF) * 114) / 1000; };
    auto rgbAt = [](const std::vector<uint8_t>& rgb, size_t at) {
        return rgb.size() > at * 3 + 2 ? uint32_t(rgb[at * 3]) << 16 | uint32_t(rgb[at * 3 + 1]) << 8 | rgb[at * 3 + 2] : 0u;
    };
    long light = 0, lightShown = 0, text = 0, white = 0, recoloured = 0;
    for (size_t j = 0; j < box.changes.size(); ++j) {
        const dvbref::Screen wideScreen = ReadScreen(wide.dir, wide.changes[j], 32);
        const dvbref::Screen boxScreen = ReadScreen(box.dir, box.changes[j], 8);
        int w = 0, h = 0;
        const auto rgb = pngread::ReadRgb(box.dir + "/screens/" + box.changes[j].png, w, h);
        const auto greenRgb = pngread::ReadRgb(green.dir + "/screens/" + green.changes[j].png, w, h);
        ASSERT_EQ(wideScreen.size(), boxScreen.size());
        for (size_t at = 0; at < boxScreen.size(); ++at) {
            if ((wideScreen[at] >> 24) >= 0xC0 && luma(wideScreen[at]) >= 200) {
                ++light;
                lightShown += luma(rgbAt(rgb, at)) >= 200;
            }
            if (boxScreen[at] != 31) continue;
            ++text;
            white += rgbAt(rgb, at) == 0xFFFFFFu;
            recoloured += rgbAt(greenRgb, at) == 0x00FF00u;
        }
    }
    printf("[ e2e ] 8 bpp: %ld of %ld light pixels light, %ld of %ld text pixels white\n", lightShown, light, white, text);
    EXPECT_GT(light, 10000);
    EXPECT_GE(lightShown * 100, light * 95);
    EXPECT_GT(text, 1000);
    EXPECT_EQ(white, text);
    EXPECT_EQ(recoloured, text);
}

// A box's log (--log-level info) keeps the daemon's events, word for word
// as the full log has them, and drops the decoders' trace: the demo writes
// far less, and draws the same screens from the same packets.
TEST(CommandLine, ABoxLogKeepsTheEventsAndIsFarSmaller) {
    TempDir tmp;
    auto run = [&](const std::string& level) {
        return RunDemo(tmp.Path() + "/" + level, {"--log-level", level});
    };
    const SimResult box = run("info");
    const SimResult full = run("debug");
    printf("[ e2e ] demo log: %zu bytes at info, %zu at debug\n", box.log.size(), full.log.size());
    EXPECT_LT(box.log.size() * 3, full.log.size());
    EXPECT_EQ(ReadText(box.dir + "/pes.tsv"), ReadText(full.dir + "/pes.tsv"));
    ASSERT_EQ(box.changes.size(), full.changes.size());
    for (size_t j = 0; j < box.changes.size(); ++j) EXPECT_EQ(box.changes[j].png, full.changes[j].png);
    // Every line of the box's log is a line of the full log, in order.
    std::istringstream lines(box.log);
    size_t at = 0, shown = 0;
    for (std::string line; std::getline(lines, line); ++shown) {
        at = full.log.find(line + "\n", at);
        ASSERT_NE(at, std::string::npos) << "not in the full log, or out of order: " << line;
    }
    EXPECT_GT(shown, 0u);
    for (const char* event : {"Service changed", "Start DVB Subtile: PID=29\n", "Start TXT Subtile: PID=42c, PAGE=889\n"})
        EXPECT_NE(box.log.find(event), std::string::npos) << event;
    const SimResult bad = RunSim(
        {"--ts", TEKO_SOURCE_DIR "/data/samples/demo.ts", "--out", tmp.Path() + "/bad", "--log-level", "loud"}, "");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("--log-level"), std::string::npos) << bad.err;
}

// A recording with bytes lost and doubled still plays: the service scan
// and the replay resync at the next sync byte, and the bytes skipped are
// counted once, on standard error.
TEST(CommandLine, DamagedRecordingPlaysAndSaysWhatWasSkipped) {
    TempDir tmp;
    std::string bytes = ReadText(TEKO_SOURCE_DIR "/data/samples/demo.ts");
    ASSERT_GT(bytes.size(), 100000u);
    bytes.erase(50000, 7);                            // 7 bytes lost mid-packet: 181 skipped
    bytes.insert(90000, bytes.substr(90000, 3));      // 3 doubled: 3 skipped
    const std::string damaged = tmp.Path() + "/damaged.ts";
    WriteText(damaged, bytes);
    const std::string out = tmp.Path() + "/out";
    const SimResult r = RunSim({"--ts", damaged, "--out", out, "--service", "1", "--duration", "2", "--quiet"}, out);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string line = "bytes outside transport stream packets skipped";
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(line), r.err.rfind(line)) << "logged more than once";
    EXPECT_NE(r.log.find("TEKO: Application created."), std::string::npos);
    EXPECT_NE(r.err.find(": 184 bytes outside"), std::string::npos) << r.err;  // 181 + 3
}

// ---- DVB time-out ------------------------------------------------------

// One service with a DVB subtitle (time-out 1 s) at 0.6 s and padding on
// its PID at 0.2 and 1.2 s; the stream ends at 2 s. The subtitle goes when
// its time-out falls due at 1.6 s, with no data on the PID then, whether
// the stream goes on (looping) or not.
TEST(Scenarios, DvbTimeOutClearsWhenItFallsDue) {
    TempDir tmp;
    TimedStream stream({{1, 0x100, 0x101, {{0x06, 0x110, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})}}}});
    stream.AddPes(200, 0x110, PaddingPes());
    stream.AddPes(600, 0x110, DvbSubtitle(0, 1));
    stream.AddPes(1200, 0x110, PaddingPes());
    const std::string ts = Write(tmp.Path(), "timeout.ts", stream.Build(2000));
    const std::string config = WriteConfig(tmp.Path(), "fre");
    for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--loop", "--duration", "3"}}) {
        const Screens s = RunStream(ts, tmp.Path() + "/run" + std::to_string(extra.size()), config, 1, extra);
        ASSERT_GE(s.sim.changes.size(), 2u);
        EXPECT_GT(s.ink[0], 0);
        size_t clear = 1;
        while (clear < s.ink.size() && s.ink[clear] > 0) ++clear;
        ASSERT_LT(clear, s.ink.size()) << "never cleared";
        printf("[ e2e ] time-out%s: drawn at %lld ms, cleared at %lld ms\n", extra.empty() ? "" : " (looping)",
               (long long)s.sim.changes[0].ms, (long long)s.sim.changes[clear].ms);
        // A second after the drawing, which came with the packet's last bytes.
        EXPECT_GE(s.sim.changes[clear].ms, 1600);
        EXPECT_LE(s.sim.changes[clear].ms - s.sim.changes[0].ms, 1000 + kAppearMs);
    }
}

// ---- Disable flag ------------------------------------------------------

// The bundled demo's DVB service, with the disable flag from 8 s to 20 s:
// the subtitle on screen goes at the next poll, nothing is drawn until the
// flag goes, and subtitles come back after it.
TEST(Scenarios, NothingIsDrawnWhileTheDisableFlagExists) {
    TempDir tmp;
    const Screens s = RunStream(TEKO_SOURCE_DIR "/data/samples/demo.ts", tmp.Path() + "/out", WriteConfig(tmp.Path(), "fre"),
                          1, {"--disable", "8:20", "--duration", "30"});
    int clears = 0, before = 0, after = 0;
    for (size_t j = 0; j < s.sim.changes.size(); ++j) {
        const int64_t ms = s.sim.changes[j].ms;
        if (ms < 8000) before += s.ink[j] > 0;
        if (ms >= 8000 && ms <= 8000 + kPollMs + kAppearMs) clears += s.ink[j] == 0;
        if (ms > 8000 + kPollMs + kAppearMs && ms < 20000) ADD_FAILURE() << "drawn at " << ms << " ms while disabled";
        if (ms >= 20000 && ms * 1000 <= 30000000) after += s.ink[j] > 0;
    }
    EXPECT_GT(before, 0);
    EXPECT_EQ(clears, 1) << "the subtitle shown at 8 s goes with the first poll";
    EXPECT_GT(after, 0) << "subtitles come back";
    EXPECT_NE(s.sim.log.find("-> Let's fall into zzzzzzz...cause we are disabled.\n"), std::string::npos);
}

// ---- Zap ---------------------------------------------------------------

// Two services with PSI every 100 ms: a DVB subtitle on service 1 (long
// time-out) and Teletext on service 2 with a new page every 120 ms. A zap
// to service 2 at 3 s clears the DVB subtitle and draws Teletext within a
// second (poll, table read, start), plus the page that completes then.
TEST(Scenarios, ZapStopsTheOldSubtitlesAndStartsTheNewWithinASecond) {
    TempDir tmp;
    TimedStream stream({
        {1, 0x100, 0x101, {{0x06, 0x110, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})}}},
        {2, 0x200, 0x201, {{0x06, 0x210, ts::TeletextDescriptor({{"fre", 2, 0, 0x88}})}}},
    });
    stream.AddPes(600, 0x110, DvbSubtitle(0, 60));
    for (int ms = 0, n = 0; ms < 5000; ms += 120, ++n) stream.AddPes(ms, 0x210, TeletextPage("Page " + std::to_string(n)));
    const std::string ts = Write(tmp.Path(), "zap.ts", stream.Build(5000));
    const Screens s = RunStream(ts, tmp.Path() + "/out", WriteConfig(tmp.Path(), "fre"), 1, {"--zap", "3:2"});

    const int64_t zap = 3000;
    int64_t shown = -1, cleared = -1, text = -1;
    for (size_t j = 0; j < s.sim.changes.size(); ++j) {
        const Change& c = s.sim.changes[j];
        if (c.ms < zap && s.ink[j] > 0 && shown < 0) shown = c.ms;
        if (c.ms < zap) {
            EXPECT_TRUE(c.text.empty()) << "Teletext drawn before the zap at " << c.ms << " ms";
        }
        if (c.ms >= zap && s.ink[j] == 0 && cleared < 0 && text < 0) cleared = c.ms;
        if (c.ms >= zap && !c.text.empty() && text < 0) text = c.ms;
        // From the first Teletext on, the DVB region's rows stay clear.
        if (text >= 0) {
            EXPECT_TRUE(c.lastRow < 500 || c.firstRow >= 520 || !c.text.empty() || s.ink[j] == 0) << c.ms;
        }
    }
    printf("[ e2e ] zap at %lld ms: DVB shown at %lld ms, cleared at %lld ms, Teletext from %lld ms\n", (long long)zap,
           (long long)shown, (long long)cleared, (long long)text);
    ASSERT_GE(shown, 600) << "the DVB subtitle never showed";
    ASSERT_GE(cleared, zap) << "the DVB subtitle was not cleared";
    EXPECT_LE(cleared, zap + 1000);
    ASSERT_GE(text, zap) << "no Teletext after the zap";
    EXPECT_LE(text, zap + 1000 + 120 + kAppearMs);
    EXPECT_NE(s.sim.log.find("Start TXT Subtile: PID=210, PAGE=888\n"), std::string::npos);
}

// ---- Stream choice -----------------------------------------------------

// Two programmes' PMT sections on one PID (as a French multiplex sends
// them), the watched programme's second: its subtitle PID 0x8C carries a
// subtitle, the other programme's 0x96 nothing. The daemon reads the
// watched programme's section and shows its subtitle.
TEST(Scenarios, SharedPmtPidGivesTheWatchedProgrammesSubtitles) {
    TempDir tmp;
    TimedStream stream({
        {1537, 0x64, 0x65, {{0x06, 0x96, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})}}},
        {1025, 0x64, 0x66, {{0x06, 0x8C, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})}}},
    });
    for (int ms = 1000; ms < 6000; ms += 1000) stream.AddPes(ms, 0x8C, DvbSubtitle(ms / 1000, 60));
    const std::string ts = Write(tmp.Path(), "shared.ts", stream.Build(6000));
    const Screens s = RunStream(ts, tmp.Path() + "/out", WriteConfig(tmp.Path(), "fre"), 1025, {});
    EXPECT_NE(s.sim.log.find("Start DVB Subtile: PID=8c\n"), std::string::npos);
    EXPECT_EQ(s.sim.log.find("Start DVB Subtile: PID=96\n"), std::string::npos);
    EXPECT_TRUE(std::any_of(s.ink.begin(), s.ink.end(), [](int ink) { return ink > 0; })) << "nothing shown";
}

// The normal French subtitles (DVB 0x10 on 0x110, or Teletext 888) send
// only clears once a second, the hard-of-hearing ones (DVB 0x20 on 0x120,
// or Teletext 889 on the same PID) text every two seconds. After 30 s of
// nothing the daemon switches and the text shows. In the quiet scene the
// normal stream showed text once, at 3 s: it is kept.
TEST(Scenarios, EmptyStreamGivesWayToTheOtherKindAfterThirtySeconds) {
    const ts::Bytes dvbClear = dvbsub::DisplaySetPes(
        dvbsub::Concat({dvbsub::PageComposition(1, 5, 0, 0, {}), dvbsub::EndOfDisplaySet(1)}));
    auto txtPage = [](int page, const std::string& text) {
        ttx::Header header;
        header.page = page;
        std::vector<ts::Bytes> units{ttx::DataUnit(ttx::HeaderPacket(header))};
        if (!text.empty()) units.push_back(ttx::DataUnit(ttx::RowPacket(8, 20, ttx::SubtitleRow(text))));
        return ttx::Pes(units);
    };
    const struct {
        const char* name;
        bool teletext;
        bool quiet;
        const char* started;  // the start line of the hard-of-hearing stream
    } cases[] = {{"DVB", false, false, "Start DVB Subtile: PID=120\n"},
                 {"Teletext", true, false, "Start TXT Subtile: PID=130, PAGE=889\n"},
                 {"DVB, quiet scene", false, true, "Start DVB Subtile: PID=120\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        std::vector<ts::EsEntry> streams{
            {0x06, 0x110, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})},
            {0x06, 0x120, ts::SubtitlingDescriptor({{"fre", 0x20, 1, 1}})}};
        if (c.teletext) streams = {{0x06, 0x130, ts::TeletextDescriptor({{"fre", 2, 0, 0x88}, {"fre", 5, 0, 0x89}})}};
        TimedStream stream({{1, 0x100, 0x101, streams}});
        for (int n = 0; n < 40; ++n) {
            const int ms = 500 + n * 1000;
            if (c.teletext) {
                stream.AddPes(ms, 0x130, txtPage(0x88, ""));
                if (n % 2 == 0) stream.AddPes(ms + 200, 0x130, txtPage(0x89, "Rires " + std::to_string(n)));
                continue;
            }
            stream.AddPes(ms, 0x110, c.quiet && n == 3 ? DvbSubtitle(n, 1) : dvbClear);
            if (n % 2 == 0) stream.AddPes(ms + 200, 0x120, DvbSubtitle(n, 1));
        }
        const std::string ts = Write(tmp.Path(), "empty.ts", stream.Build(40000));
        const Screens s = RunStream(ts, tmp.Path() + "/out", WriteConfig(tmp.Path(), "fre"), 1, {});
        int64_t shown = -1;
        for (size_t j = 0; j < s.ink.size() && shown < 0; ++j)
            if (s.ink[j] > 0) shown = s.sim.changes[j].ms;
        const bool switched = s.sim.log.find(c.started) != std::string::npos;
        printf("[ e2e ] %s: %s, first text at %lld ms\n", c.name, switched ? "switched" : "kept", (long long)shown);
        EXPECT_EQ(switched, !c.quiet);
        EXPECT_EQ(s.sim.log.find("switching") != std::string::npos, !c.quiet);
        if (c.quiet) {
            EXPECT_GE(shown, 3400);
            EXPECT_LT(shown, 4000);
        } else {
            EXPECT_GE(shown, 30000);
            EXPECT_LE(shown, 30000 + kStartMs + kPollMs + 2000);
        }
    }
}

}  // namespace
}  // namespace e2e
