// How the daemon stands what a box does to it, in tekod-sim runs of the
// demo and of built streams: signals from the box owner, and a broadcast
// that would fill a box's log.
#include <gtest/gtest.h>

#include "E2eTest.h"
#include "TimedStream.h"
#include "support/DvbSubBuilder.h"
#include "support/TextCount.h"

namespace e2e {
namespace {

// HUP reloads and the subtitles go on; TERM (or INT) stops the daemon
// with one line, exit status 0 and nothing of it left on the screen.
TEST(Robustness, SignalsReloadAndStopCleanly) {
    TempDir tmp;
    for (const char* stop : {"TERM", "INT"}) {
        SCOPED_TRACE(stop);
        const std::string out = tmp.Path() + "/" + stop;
        const SimResult r = RunDemo(out, {"--raw", "--signal", "38:HUP", "--signal", std::string("45:") + stop});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(CountOf(r.log, "Reload configs requested (SIGHUP).\n"), 1);
        EXPECT_EQ(CountOf(r.log, std::string("SIG") + stop + ": stopping.\n"), 1);
        bool textAfterReload = false;
        for (const Change& c : r.changes) textAfterReload |= c.ms > 38500 && c.ms < 45000 && !c.text.empty();
        EXPECT_TRUE(textAfterReload) << "no Teletext between the reload and the stop";
        ASSERT_FALSE(r.changes.empty());
        EXPECT_LT(r.changes.back().ms, 46000);
        EXPECT_EQ(dvbref::Ink(ReadScreen(out, r.changes.back(), 32), 32), 0) << "the screen when the daemon ended";
    }
}

// Display sets that name 256 regions they never define, ten a second,
// for two minutes: at tekod's level the log stays within about a hundred
// lines a minute, the repeats told in summaries.
TEST(Robustness, ABroadcastCannotFillTheLog) {
    TempDir tmp;
    TimedStream stream({{1, 0x100, 0x101, {{0x06, 0x110, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})}}}});
    std::vector<dvbsub::RegionRef> undefined;
    for (int id = 0; id < 256; ++id) undefined.push_back({id, 0, 0});
    for (int ms = 0, version = 0; ms < 120000; ms += 100, ++version)
        stream.AddPes(ms, 0x110,
                      dvbsub::DisplaySetPes(dvbsub::Concat({dvbsub::PageComposition(1, 5, version & 15, 0, undefined),
                                                            dvbsub::EndOfDisplaySet(1)})));
    const std::string ts = tmp.Path() + "/undefined.ts";
    const ts::Bytes built = stream.Build(120000);
    WriteText(ts, std::string(built.begin(), built.end()));
    const std::string out = tmp.Path() + "/out";
    std::vector<std::string> args = RunArgs(ts, out, WriteConfig(tmp.Path(), "fre"), 1, 32);
    args.insert(args.end(), {"--log-level", "info"});
    const SimResult r = RunSim(args, out);
    ASSERT_EQ(r.status, 0) << r.err;
    const int lines = CountOf(r.log, "\n");
    printf("[ e2e ] 2 minutes of 256 undefined regions ten times a second: %d log lines\n", lines);
    EXPECT_LE(lines, 200);
    EXPECT_NE(r.log.find("more like this in the last minute: ERROR: Region not found."), std::string::npos);
}

}  // namespace
}  // namespace e2e
