// How the daemon stands what a box does to it, in tekod-sim runs of the
// demo: signals from the box owner.
#include <gtest/gtest.h>

#include "E2eTest.h"

namespace e2e {
namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// HUP reloads and the subtitles go on; TERM (or INT) stops the daemon
// with one line, exit status 0 and nothing of it left on the screen.
TEST(Robustness, SignalsReloadAndStopCleanly) {
    TempDir tmp;
    for (const char* stop : {"TERM", "INT"}) {
        SCOPED_TRACE(stop);
        const std::string out = tmp.Path() + "/" + stop;
        const SimResult r = RunDemo(out, {"--raw", "--signal", "38:HUP", "--signal", std::string("45:") + stop});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Count(r.log, "Reload configs requested (SIGHUP).\n"), 1u);
        EXPECT_EQ(Count(r.log, std::string("SIG") + stop + ": stopping.\n"), 1u);
        bool textAfterReload = false;
        for (const Change& c : r.changes) textAfterReload |= c.ms > 38500 && c.ms < 45000 && !c.text.empty();
        EXPECT_TRUE(textAfterReload) << "no Teletext between the reload and the stop";
        ASSERT_FALSE(r.changes.empty());
        EXPECT_LT(r.changes.back().ms, 46000);
        EXPECT_EQ(dvbref::Ink(ReadScreen(out, r.changes.back(), 32), 32), 0) << "the screen when the daemon ended";
    }
}

}  // namespace
}  // namespace e2e
