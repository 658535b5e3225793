// The running daemon's main loop: the disable flag, reloads, failing table
// reads, the idle rescan, the status line's timing and the way out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/AppHarness.h"
#include "platform/Paths.h"

namespace {

using apptest::AppHarness;
using apptest::CountOf;
using apptest::Dvb;
using apptest::Service;
using apptest::Txt;

constexpr int kService = 1000;
const char kSelect[] = "TEKO: Service changed: SID=1000, PMT=1256\n";
const char kFailed[] = "TEKO: Failed to GetAllPIDs()...try again.\n";

// The passes (1-based) whose log holds `text`.
std::vector<int> PassesWith(const AppHarness& h, const std::string& text) { return h.PassesWith(text); }

// The passes up to `last`: the way out after it clears the client's area.
std::vector<int> Within(const std::vector<int>& passes, int last) {
    std::vector<int> out;
    for (int n : passes)
        if (n <= last) out.push_back(n);
    return out;
}

TEST(MainLoop, DisableFlagStopsOnceAndReselectsAtOnceWhenRemoved) {
    AppHarness h;
    h.Mux({{kService, {}, {Txt("swe")}}});
    h.HandOff(kService);
    bool runningWhileDisabled = true;
    h.Run(
        [&](int poll) {
            if (poll == 4) h.env.root.Write(paths::kDisableFlag, "");
            // The hand-off file is not even read while disabled.
            if (poll == 5) h.env.root.Remove(paths::kHandOff);
            if (poll == 7) runningWhileDisabled = h.app->decoding || h.app->pesFilter.Running();
            if (poll == 9) {
                h.HandOff(kService);
                h.env.root.Remove(paths::kDisableFlag);
            }
            return true;
        },
        12);
    EXPECT_EQ(PassesWith(h, "TEKO: -> Let's fall into zzzzzzz...cause we are disabled.\n"), std::vector<int>{4});
    EXPECT_FALSE(runningWhileDisabled);
    EXPECT_EQ(h.Count("TEKO: Could not find TEKO.tmp"), 0);
    // Decoding stopped before the message; the same service is selected
    // again on the first poll without the flag.
    EXPECT_LT(h.Pass(4).find("TEKO: Stop PES decoding...\n"), h.Pass(4).find("zzzzzzz...cause"));
    EXPECT_EQ(PassesWith(h, kSelect), (std::vector<int>{1, 9}));
    EXPECT_EQ(PassesWith(h, "TEKO: Start TXT Subtile: PID=6e8, PAGE=888\n"), (std::vector<int>{1, 9}));
}

// A reload while Teletext runs: decoding stops before the display is
// rebuilt with the new font, and the selection that follows uses the new
// languages. A font that vanished leaves the daemon running without a
// display until a later reload names one that exists.
TEST(MainLoop, ReloadStopsDecodingRebuildsTheDisplayAndSelectsAgain) {
    AppHarness h;
    h.Mux({{kService, {}, {Txt("swe"), Txt("eng")}}});
    h.HandOff(kService);
    const std::string other = "/usr/share/fonts/other.ttf";
    ASSERT_EQ(symlink(h.env.root.At(paths::kDefaultFont).c_str(), h.env.root.At(other).c_str()), 0);
    int mappingsWithoutFont = -1, drawnWithoutFont = -1, drawnBefore = 0;
    h.Run(
        [&](int poll) {
            if (poll == 4) {
                h.Config("Language eng\nFont " + other + "\n");
                h.env.root.Write(paths::kReloadFlag, "");
            }
            if (poll == 8) {
                h.Config("Font /usr/share/fonts/missing.ttf\n");
                h.env.root.Write(paths::kReloadFlag, "");
            }
            if (poll == 9) drawnBefore = h.readerBlits;
            if (poll == 14) {
                mappingsWithoutFont = h.fb.Mappings();
                drawnWithoutFont = h.readerBlits - drawnBefore;
                h.Config("Font " + other + "\n");
                h.env.root.Write(paths::kReloadFlag, "");
            }
            return true;
        },
        24);
    const std::string& reload = h.Pass(4);
    const size_t requested = reload.find("TEKO: Reload configs requested.\nTEKO: Load settings from: /etc/TEKO.conf\n");
    const size_t stopped = reload.find("TEKO: Stop PES decoding...\n", requested);
    const size_t rebuilt = reload.find("TEKO: Found ", stopped);
    const size_t selected = reload.find(kSelect, rebuilt);
    ASSERT_NE(requested, std::string::npos);
    EXPECT_NE(stopped, std::string::npos);
    EXPECT_NE(rebuilt, std::string::npos);
    EXPECT_NE(selected, std::string::npos);
    EXPECT_NE(reload.find("TEKO: TXT FROM PMT: eng, PID=6e8, PAGE=888\n", selected), std::string::npos);
    EXPECT_FALSE(h.env.root.Exists(paths::kReloadFlag));

    EXPECT_NE(h.Pass(8).find("TEKO: Font /usr/share/fonts/missing.ttf not found\n"), std::string::npos);
    EXPECT_NE(h.Pass(8).find("TEKO: Start TXT Subtile: PID=6e8, PAGE=888\n"), std::string::npos);
    // Without a font the display stays up and draws no text: at most the
    // clear of what the page showed before.
    EXPECT_EQ(mappingsWithoutFont, 1);
    EXPECT_LE(drawnWithoutFont, 1);
    EXPECT_GT(h.readerBlits, drawnBefore);  // drawing again after the last reload
    EXPECT_EQ(PassesWith(h, "TEKO: Reload configs requested.\n"), (std::vector<int>{4, 8, 14}));
}

// Failing table reads are retried on every poll (a service without any
// subtitle entry, a demultiplexer that cannot be opened) until one works.
TEST(MainLoop, FailingTablesAreReadAgainOnEveryPoll) {
    AppHarness h;
    h.Config("OSDMessages 1\n");
    h.Mux({{kService, {}, {}}, {kService + 1, {Dvb("swe")}, {}}});
    h.HandOff(kService);
    h.Run(
        [&](int poll) {
            if (poll == 5) h.env.backend.Attach(paths::kDemux, nullptr);
            if (poll == 8) {
                h.env.backend.Attach(paths::kDemux, &h.env.demux);
                h.HandOff(kService + 1);
            }
            return true;
        },
        12);
    EXPECT_EQ(PassesWith(h, kSelect), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(PassesWith(h, kFailed), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(PassesWith(h, "TEKO: Error open(DMX)\n"), (std::vector<int>{5, 6, 7}));
    EXPECT_EQ(PassesWith(h, "TEKO: Service changed: SID=1001, PMT=1257\n"), std::vector<int>{8});
    EXPECT_EQ(PassesWith(h, "TEKO: Start DVB Subtile: PID=5e9\n"), std::vector<int>{8});
    // A failed read leaves the status line alone (the stop after the last
    // poll clears the screen).
    EXPECT_EQ(Within(h.mainBlitPasses, 12), std::vector<int>{8});
}

// Nothing found: decoding stays stopped and the tables are read again
// every 20 polls without any change of service.
TEST(MainLoop, IdleServiceIsRescannedEvery20Polls) {
    AppHarness h;
    h.Mux({{kService, {}, {Txt("ger")}}});
    h.HandOff(kService);
    h.Run([](int) { return true; }, 45);
    EXPECT_EQ(PassesWith(h, kSelect), (std::vector<int>{1, 21, 41}));
    EXPECT_EQ(PassesWith(h, "TEKO: -> Let's fall into zzzzzzz...\n"), (std::vector<int>{1, 21, 41}));
    EXPECT_EQ(h.Count("TEKO: Start "), 0);
}

// With "OSDMessages" 1 the band is drawn after the selection and blanked
// every six polls from then on; without it nothing ever touches the band.
// The chosen stream is on a PID that carries nothing, so no subtitle
// drawing mixes in.
TEST(MainLoop, StatusBandIsBlankedEverySixPollsOnlyWhenSwitchedOn) {
    for (int bpp : {32, 8}) {
        SCOPED_TRACE(bpp);
        AppHarness h(bpp);
        h.Config("OSDMessages 1\n");
        h.Channels("3e8 777 150 swe\n");
        h.Mux({{kService, {}, {Txt("swe")}}});
        h.HandOff(kService);
        const std::vector<uint32_t> shown = h.ExpectedBand("TXT(Override) Subtitles swe 0x777 150");
        const std::vector<uint32_t> blank = h.ExpectedBand("");
        std::vector<uint32_t> afterSelection, afterBlanking;
        h.Run(
            [&](int poll) {
                if (poll == 2) afterSelection = h.Band();
                if (poll == 8) afterBlanking = h.Band();
                return true;
            },
            20);
        EXPECT_EQ(Within(h.mainBlitPasses, 20), (std::vector<int>{1, 7, 13, 19}));
        EXPECT_TRUE(afterSelection == shown);
        EXPECT_TRUE(afterBlanking == blank);
        EXPECT_NE(shown, blank);
    }
    AppHarness h;
    h.Channels("3e8 777 150 swe\n");
    h.Mux({{kService, {}, {Txt("swe")}}});
    h.HandOff(kService);
    bool untouched = true;
    h.Run(
        [&](int poll) {
            if (poll > 1) untouched = untouched && h.BandMarked();
            h.MarkBand();
            return true;
        },
        20);
    EXPECT_EQ(PassesWith(h, "TEKO: Start TXT Subtile: PID=777, PAGE=150\n"), std::vector<int>{1});
    EXPECT_TRUE(untouched);
    EXPECT_EQ(Within(h.mainBlitPasses, 20), std::vector<int>{});
}

// The way out (a test or the simulator ends the loop): the reader thread
// is gone before the screen is unmapped, and nothing stays open.
TEST(MainLoop, EndStopsDecodingBeforeTheDisplayGoes) {
    for (bool dvb : {false, true}) {
        AppHarness h;
        h.Mux({{kService, {Dvb(dvb ? "swe" : "ger")}, {Txt("swe")}}});
        h.HandOff(kService);
        int demuxOpenWhileDecoding = 0;
        h.Run(
            [&](int poll) {
                demuxOpenWhileDecoding = h.env.demux.OpenCount();
                return true;
            },
            8);
        EXPECT_EQ(demuxOpenWhileDecoding, 1);
        const std::string& last = h.Pass(h.Passes());
        const size_t stop = last.find("TEKO: Stop PES decoding...\nTEKO: Stoping PESFilter thread.\n");
        const size_t bye = last.find("TEKO: Exit from main loop...bye bye...\n");
        ASSERT_NE(stop, std::string::npos);
        EXPECT_LT(stop, bye);
        EXPECT_EQ(last.find("TEKO: ", bye + 1), std::string::npos);  // the last line
        EXPECT_FALSE(h.app->pesFilter.Running());
        EXPECT_FALSE(h.app->keepRunning);
        EXPECT_EQ(h.fb.Mappings(), 0);
        EXPECT_EQ(h.fb.OpenDescriptors(), 0);
        EXPECT_EQ(h.env.demux.OpenCount(), 0);
        EXPECT_TRUE(h.fb.TailIntact());
    }
}

// Constructing and destroying the object opens and draws nothing.
TEST(MainLoop, ConstructionAloneTouchesNoDevice) {
    AppHarness h;
    testing::internal::CaptureStderr();
    { gTEKOApp app; }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(h.fb.Mappings(), 0);
    EXPECT_EQ(h.fb.BlitRequests(), 0);
    EXPECT_FALSE(h.env.replay.Started());
}

}  // namespace
