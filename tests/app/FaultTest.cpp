// Faults of the box's devices and files while the daemon runs: each one is
// logged, none crashes or stops the main loop, and the daemon comes back
// by itself once the fault is gone.
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/AppHarness.h"
#include "platform/Paths.h"

namespace {

using apptest::AppHarness;
using apptest::Dvb;
using apptest::Txt;
using ReadTarget = EmulatedDemux::ReadTarget;

constexpr int kService = 1000;
const char kBlitError[] = "TEKO: Error FBIO_BLIT not availble.\n";
const char kStartDvb[] = "TEKO: Start DVB Subtile: PID=5e8\n";
const char kStartTxt[] = "TEKO: Start TXT Subtile: PID=6e8, PAGE=888\n";
const char kSelect[] = "TEKO: Service changed: SID=1000, PMT=1256\n";

void Reload(const AppHarness& h) { h.env.root.Write(paths::kReloadFlag, ""); }

// The DVB subtitle of the test multiplex: a 20 x 2 block at (30, 500).
int SubtitleInk(const AppHarness& h) { return h.Ink(500, 502); }

TEST(Fault, BlitFailingAlwaysThenNowAndThen) {
    AppHarness h;
    h.Mux({{kService, {Dvb("swe")}, {}}});
    h.HandOff(kService);
    int okBefore = 0, okDuring = 0, failedDuring = 0, okAfter = 0, inkAfter = 0;
    int failedPeriodic = 0, okPeriodic = 0;
    h.Run(
        [&](int poll) {
            if (poll == 4) {
                h.fb.SetFailingBlits(-1);
                okBefore = h.fb.Blits();
                failedDuring = h.fb.FailedBlits();
            }
            if (poll == 10) {
                okDuring = h.fb.Blits() - okBefore;
                failedDuring = h.fb.FailedBlits() - failedDuring;
                h.fb.SetFailingBlits(0);
            }
            // Sampled over polls: a redraw may be half-way at any one.
            if (poll > 10 && poll <= 14) inkAfter = std::max(inkAfter, SubtitleInk(h));
            if (poll == 14) {
                okAfter = h.fb.Blits() - okBefore;
                failedPeriodic = h.fb.FailedBlits();
                okPeriodic = h.fb.Blits();
                h.fb.SetBlitFailurePeriod(3);
            }
            if (poll == 20) {
                failedPeriodic = h.fb.FailedBlits() - failedPeriodic;
                okPeriodic = h.fb.Blits() - okPeriodic;
                h.fb.SetBlitFailurePeriod(0);
            }
            return true;
        },
        24);
    EXPECT_EQ(h.Passes(), 25);  // no hang: every poll ran, and the way out
    // Always: nothing reaches the screen, each of the nine attempts of
    // every drawing is logged, and the subtitle drawing goes on.
    EXPECT_EQ(okDuring, 0);
    EXPECT_GE(failedDuring, 9 * 4);
    EXPECT_GE(h.Count(kBlitError), failedDuring);
    EXPECT_GT(okAfter, 0);
    EXPECT_GT(inkAfter, 0);
    // Now and then: the attempt after a failure brings the drawing on.
    EXPECT_GT(failedPeriodic, 0);
    EXPECT_GT(okPeriodic, failedPeriodic);
    EXPECT_EQ(h.Count(kBlitError), h.fb.FailedBlits());
}

// Blit requests per window of polls: the subtitle drawing's activity.
struct Activity {
    std::vector<int> requests = std::vector<int>(64, 0);
    int Between(int from, int to) const { return requests[size_t(to)] - requests[size_t(from)]; }
};

TEST(Fault, DemuxReadStormsAndTimeouts) {
    AppHarness h;
    h.Mux({{kService, {Dvb("swe")}, {}}, {kService + 1, {Dvb("swe")}, {}}});
    h.HandOff(kService);
    Activity a;
    h.Run(
        [&](int poll) {
            a.requests[size_t(poll)] = h.fb.BlitRequests();
            switch (poll) {
            case 4: h.env.demux.FailReads(ReadTarget::kPes, EOVERFLOW, -1); break;
            case 10: h.env.demux.FailReads(ReadTarget::kPes, 0, 0); break;
            case 14: h.env.demux.FailReads(ReadTarget::kPes, ETIMEDOUT, -1); break;
            case 20: h.env.demux.FailReads(ReadTarget::kPes, 0, 0); break;
            case 24:
                h.env.demux.FailReads(ReadTarget::kSection, ETIMEDOUT, -1);
                h.HandOff(kService + 1);
                break;
            case 28: h.env.demux.FailReads(ReadTarget::kSection, EOVERFLOW, -1); break;
            case 32: h.env.demux.FailReads(ReadTarget::kSection, 0, 0); break;
            }
            return true;
        },
        40);
    EXPECT_EQ(h.Passes(), 41);
    // PES reads: an overflow storm, then time-outs. Each failure is logged,
    // the reader backs off, and the subtitles come back after each.
    EXPECT_GT(h.Count("TEKO: PES filter buffer overflow: data lost, waiting for the next packet\n"), 2);
    EXPECT_GT(h.Count("TEKO: Warning, ERROR from PESFilter[read(demuxFD, packet, 188);]: -1\n"), 4);
    EXPECT_LE(a.Between(6, 10), 2);
    EXPECT_GT(a.Between(12, 14), 0);
    EXPECT_LE(a.Between(16, 20), 2);
    EXPECT_GT(a.Between(22, 24), 0);
    // Section reads: the tables are read again at every poll until they
    // come; then the new service's subtitles start.
    EXPECT_EQ(h.PassesWith("TEKO: Error read(PAT)\n"), (std::vector<int>{24, 25, 26, 27, 28, 29, 30, 31}));
    EXPECT_EQ(h.PassesWith("TEKO: Start DVB Subtile: PID=5e9\n"), std::vector<int>{32});
    EXPECT_GT(a.Between(34, 40), 0);
}

TEST(Fault, RefusedFiltersAreSetAgainUntilAccepted) {
    AppHarness h;
    h.Mux({{kService, {Dvb("swe")}, {}}, {kService + 1, {Dvb("swe")}, {}}});
    h.HandOff(kService);
    h.env.demux.RefuseIoctl(DMX_SET_FILTER, EINVAL);
    Activity a;
    bool runningAt14 = false;
    h.Run(
        [&](int poll) {
            a.requests[size_t(poll)] = h.fb.BlitRequests();
            if (poll == 4) h.env.demux.RefuseIoctl(DMX_SET_FILTER, 0);
            if (poll == 8) {
                h.env.demux.RefuseIoctl(DMX_SET_PES_FILTER, EBUSY);
                h.HandOff(kService + 1);
            }
            if (poll == 12) h.env.demux.RefuseIoctl(DMX_SET_PES_FILTER, 0);
            if (poll == 14) runningAt14 = h.app->pesFilter.Running();
            return true;
        },
        18);
    EXPECT_EQ(h.PassesWith("TEKO: Error ioctl(DMX_SET_FILTER PAT)\n"), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(h.PassesWith(kStartDvb), std::vector<int>{4});
    EXPECT_EQ(h.PassesWith("TEKO: Failed ioctl(DMX_SET_PES_FILTER)\n"), (std::vector<int>{8, 9, 10, 11}));
    EXPECT_EQ(h.PassesWith("TEKO: Subtitle decoding did not start; selecting again.\n"),
              (std::vector<int>{9, 10, 11, 12}));
    EXPECT_EQ(h.PassesWith("TEKO: Start DVB Subtile: PID=5e9\n"), (std::vector<int>{8, 9, 10, 11, 12}));
    EXPECT_TRUE(runningAt14);
    EXPECT_GT(a.Between(14, 18), 0);
}

// A framebuffer that cannot be had at start is tried again on a back-off
// (1 s, 2 s, 4 s...): quiet, but for the first failure and the line that
// tells it back with the outage's length.
TEST(Fault, FramebufferMissingAtStartIsTriedAgainOnABackOff) {
    struct Case {
        const char* name;
        const char* reason;
        std::function<void(AppHarness&, bool)> fault;  // on (true) or lifted
    };
    const std::vector<Case> cases = {
        {"FBIOGET_VSCREENINFO", "TEKO: Could not execute FBIOGET_VSCREENINFO\n",
         [](AppHarness& h, bool on) { h.fb.SetScreenInfoFailures(on, false); }},
        {"FBIOGET_FSCREENINFO", "TEKO: Could not execute FBIOGET_FSCREENINFO\n",
         [](AppHarness& h, bool on) { h.fb.SetScreenInfoFailures(false, on); }},
        {"no device node", "TEKO: Could not open frame buffer\n",
         [](AppHarness& h, bool on) { h.env.backend.Attach(paths::kFrameBuffer, on ? nullptr : &h.fb); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness h;
        h.Mux({{kService, {Dvb("swe")}, {}}});
        h.HandOff(kService);
        c.fault(h, true);
        int requestsWhileDown = -1, inkAfter = 0;
        h.Run(
            [&](int poll) {
                // Attempts at polls 2, 6, 14, 30: the one at 30 finds it.
                if (poll == 20) c.fault(h, false);
                if (poll == 29) requestsWhileDown = h.fb.BlitRequests();
                if (poll > 31) inkAfter = std::max(inkAfter, SubtitleInk(h));
                return true;
            },
            36);
        EXPECT_NE(h.Pass(0).find(c.reason), std::string::npos);
        EXPECT_EQ(h.Count(c.reason), 1);
        EXPECT_EQ(h.PassesWith("TEKO: No display yet; next attempt in "), (std::vector<int>{2, 6, 14}));
        // Nothing is chosen while nothing could be shown.
        EXPECT_EQ(h.PassesWith(kStartDvb), std::vector<int>{30});
        EXPECT_EQ(h.PassesWith("TEKO: Display back after "), std::vector<int>{30}) << h.Pass(30);
        EXPECT_EQ(requestsWhileDown, 0);
        EXPECT_GT(inkAfter, 0);
        EXPECT_EQ(h.fb.Mappings(), 0);
    }
}

TEST(Fault, FontDeletedOrGarbageBetweenReloadsThenPutBack) {
    AppHarness h;
    h.OwnFont();
    h.Mux({{kService, {}, {Txt("swe")}}});
    h.HandOff(kService);
    int drawnBefore = 0;
    bool createdAt20 = false;
    h.Run(
        [&](int poll) {
            if (poll == 4) {
                h.env.root.Remove(paths::kDefaultFont);
                Reload(h);
            }
            // The reader thread may still draw until the pass after this
            // hook has stopped decoding: count from the hook after it.
            if (poll == 5) drawnBefore = h.readerInkBlits;
            if (poll == 8) {
                std::string garbage(40000, '\0');
                for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = char(i * 131 + (i >> 7));
                h.env.root.Write(paths::kDefaultFont, garbage);
                Reload(h);
            }
            if (poll == 12) h.OwnFont();  // put back, without a reload
            if (poll == 20) {
                createdAt20 = h.app->display.IsCreated();
            }
            return true;
        },
        30);
    EXPECT_GT(drawnBefore, 0);
    EXPECT_NE(h.Pass(4).find("TEKO: Font /usr/share/fonts/md_khmurabi_10.ttf not found\n"), std::string::npos);
    EXPECT_NE(h.Pass(8).find("TEKO: FT_New_Face failed: Unknown_File_Format (unknown file format), for font: "),
              std::string::npos);
    // The display stays up without a font; the font files are looked at
    // every ten seconds, and the one put back is set up without a reload.
    EXPECT_TRUE(createdAt20);
    EXPECT_EQ(h.PassesWith("TEKO: Font /usr/share/fonts/md_khmurabi_10.ttf set up: text is drawn again\n"),
              std::vector<int>{20});
    EXPECT_EQ(h.PassesWith(kStartTxt), (std::vector<int>{1, 4, 8}));
    EXPECT_GT(h.readerInkBlits, drawnBefore);
    EXPECT_EQ(h.fb.Mappings(), 0);
}

// DVB subtitles are bitmaps: whatever is wrong with the font, they are
// drawn as with a good one; the font's fault is told once, and a reload
// does not read an unchanged file again.
TEST(Fault, DvbSubtitlesDrawWithoutAUsableFont) {
    struct Case {
        const char* name;
        std::function<void(const AppHarness&)> font;
        const char* told;  // "": a good font
    };
    const std::vector<Case> cases = {
        {"good", [](const AppHarness&) {}, ""},
        {"missing", [](const AppHarness& h) { h.env.root.Remove(paths::kDefaultFont); },
         "TEKO: Font /usr/share/fonts/md_khmurabi_10.ttf not found\n"},
        {"empty", [](const AppHarness& h) { h.env.root.Write(paths::kDefaultFont, ""); },
         "TEKO: FT_New_Face failed: Cannot_Open_Resource (cannot open resource), for font: "},
        {"text", [](const AppHarness& h) { h.env.root.Write(paths::kDefaultFont, "Language swe\nFont none\n"); },
         "TEKO: FT_New_Face failed: Invalid_Stream_Operation (invalid stream operation), for font: "},
        {"folder",
         [](const AppHarness& h) {
             h.env.root.Remove(paths::kDefaultFont);
             mkdir(h.env.root.At(paths::kDefaultFont).c_str(), 0755);
         },
         "TEKO: Could not read font /usr/share/fonts/md_khmurabi_10.ttf: Is a directory\n"},
    };
    int goodBlits = -1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppHarness h;
        h.Mux({{kService, {Dvb("swe")}, {}}});
        h.HandOff(kService);
        // A copy of its own: the harness's font is a link to the system's.
        h.OwnFont();
        c.font(h);
        bool created = false, text = true;
        h.Run(
            [&](int poll) {
                if (poll == 6) Reload(h);
                if (poll == 10) created = h.app->display.IsCreated(), text = h.app->display.HasText();
                return true;
            },
            12);
        EXPECT_TRUE(created);
        EXPECT_EQ(text, *c.told == 0);
        if (*c.told == 0) {
            goodBlits = h.readerInkBlits;
            EXPECT_GT(goodBlits, 0);
            continue;
        }
        EXPECT_EQ(h.readerInkBlits, goodBlits);
        EXPECT_EQ(h.Count(c.told), 1) << h.log;
        EXPECT_EQ(h.Count("TEKO: No usable font: "), 2);  // at the start and at the reload
    }
}

TEST(Fault, HandOffFileFaultsAreLoggedAndTheServiceComesBack) {
    AppHarness h;
    h.Mux({{kService, {Dvb("swe")}, {}}});
    h.HandOff(kService);
    const std::string handOff = h.env.root.At(paths::kHandOff);
    bool runningAtEnd = false;
    h.Run(
        [&](int poll) {
            switch (poll) {
            case 3: h.env.root.Write(paths::kHandOff, ""); break;
            case 7: h.env.root.Write(paths::kHandOff, "1000\n12"); break;  // caught mid-line
            case 11:  // 3 MB: its first line is cut by the 64 KiB read
                h.env.root.Write(paths::kHandOff, "1000" + std::string(3 << 20, ' ') + "\n1024\n");
                break;
            case 15: h.env.root.Write(paths::kHandOff, std::string("\0\xff\x01\x80" "12\n\x02", 8)); break;
            case 19:
                h.env.root.Remove(paths::kHandOff);
                mkdir(handOff.c_str(), 0755);
                break;
            case 23: h.env.backend.FailFile(paths::kHandOff, EACCES); break;
            case 25: h.env.backend.FailFile(paths::kHandOff, 0, EIO); break;
            case 5: case 9: case 13: case 17: case 21: case 27:
                rmdir(handOff.c_str());
                h.env.backend.FailFile(paths::kHandOff, 0, 0);
                h.HandOff(kService);
                break;
            case 30: runningAtEnd = h.app->pesFilter.Running(); break;
            }
            return true;
        },
        30);
    EXPECT_EQ(h.PassesWith("TEKO: Failed to read SID\n"),
              (std::vector<int>{3, 4, 11, 12, 15, 16, 25, 26}));
    EXPECT_EQ(h.PassesWith("TEKO: Failed to read APID\n"), (std::vector<int>{7, 8}));
    EXPECT_EQ(h.PassesWith("TEKO: /tmp/TEKO.tmp is larger than 65536 bytes: the rest is not read\n"),
              (std::vector<int>{11, 12}));
    // A folder or an unreadable file counts as no file, told once.
    EXPECT_EQ(h.PassesWith("TEKO: /tmp/TEKO.tmp is a folder, not a regular file; taken as absent\n"),
              (std::vector<int>{19}));
    EXPECT_EQ(h.PassesWith("TEKO: /tmp/TEKO.tmp: Permission denied; taken as absent\n"), (std::vector<int>{23}));
    EXPECT_TRUE(h.PassesWith("TEKO: Could not find TEKO.tmp...is Python plugin running?\n").empty());
    EXPECT_EQ(h.PassesWith("TEKO: Could not read /tmp/TEKO.tmp: Input/output error\n"), (std::vector<int>{25, 26}));
    // The service comes back, selected again, each time the file is good
    // again (the torn line changed the video PID; the others reset the
    // service); meanwhile decoding went on as it was.
    EXPECT_EQ(h.PassesWith(kSelect), (std::vector<int>{1, 5, 9, 13, 17, 21, 27}));
    EXPECT_EQ(h.Count(kStartDvb), 7);
    EXPECT_EQ(h.Count("TEKO: Stop PES decoding...\n"), 1 + 7 + 1);  // start, selections, way out
    EXPECT_TRUE(runningAtEnd);
}

TEST(Fault, ConfigurationFolderOrUnreadableKeepsTheValuesItHad) {
    AppHarness h;
    ASSERT_EQ(mkdir(h.env.root.At(paths::kConfig).c_str(), 0755), 0);
    h.Mux({{kService, {Dvb("eng")}, {Txt("swe")}}});
    h.HandOff(kService);
    h.Run(
        [&](int poll) {
            if (poll == 4) {
                rmdir(h.env.root.At(paths::kConfig).c_str());
                h.Config("Language eng\n");
                h.env.backend.FailFile(paths::kConfig, EACCES);
                Reload(h);
            }
            if (poll == 8) {
                h.env.backend.FailFile(paths::kConfig, 0, EIO);
                Reload(h);
            }
            if (poll == 12) {
                h.env.backend.FailFile(paths::kConfig, 0, 0);
                Reload(h);
            }
            return true;
        },
        16);
    EXPECT_NE(h.Pass(0).find("TEKO: Could not read /etc/TEKO.conf: Is a directory\n"), std::string::npos);
    EXPECT_NE(h.Pass(4).find("TEKO: Could not open /etc/TEKO.conf: Permission denied\n"), std::string::npos);
    EXPECT_NE(h.Pass(8).find("TEKO: Could not read /etc/TEKO.conf: Input/output error\n"), std::string::npos);
    // The defaults (Swedish Teletext) hold until the file can be read.
    EXPECT_EQ(h.PassesWith(kStartTxt), (std::vector<int>{1, 4, 8}));
    EXPECT_EQ(h.PassesWith(kStartDvb), std::vector<int>{12});
    EXPECT_EQ(h.app->language, "eng");
}

}  // namespace
