// The demultiplexer unplugged under a running daemon (tekod-sim
// --demux-outage): the reader opens it again by itself once it is back,
// and the outage costs the log two lines and the viewer only the
// subtitles sent while it lasted and the back-off after it.
#include <gtest/gtest.h>

#include <sstream>

#include "E2eTest.h"

namespace e2e {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Outage {
    const char* name;
    int from, to;  // stream seconds
};

TEST(DemuxOutage, SubtitlesComeBackWithoutAZapAndTheLogTellsItInTwoLines) {
    TempDir tmp;
    const SimResult plain = RunDemo(tmp.Path() + "/plain", {"--log-level", "info"});
    ASSERT_TRUE(plain.Ran());
    const std::vector<Outage> outages = {
        {"DVB subtitles", 12, 17},
        {"Teletext subtitles, after the zap", 45, 50},
    };
    for (const Outage& o : outages) {
        SCOPED_TRACE(o.name);
        const std::string range = std::to_string(o.from) + ":" + std::to_string(o.to);
        const SimResult cut = RunDemo(tmp.Path() + "/" + range, {"--log-level", "info", "--demux-outage", range});
        ASSERT_TRUE(cut.Ran());

        // The same log with one line when the device went and one when it
        // was back, the two together: nothing in between.
        std::vector<std::string> lines = Lines(cut.log);
        size_t lost = 0;
        while (lost < lines.size() && lines[lost].find("TEKO: Demultiplexer lost (No such device)") != 0) ++lost;
        ASSERT_LT(lost + 1, lines.size());
        const std::string back = lines[lost + 1];
        EXPECT_EQ(back.find("TEKO: Demultiplexer back after "), 0u) << back;
        // The node returns 5 s after it went: the attempts at 1, 3 and 7 s.
        EXPECT_NE(back.find(" 7.0 s"), std::string::npos) << back;
        lines.erase(lines.begin() + long(lost), lines.begin() + long(lost) + 2);
        EXPECT_EQ(lines, Lines(plain.log));

        // Nothing is drawn while the device is away; from the end of the
        // back-off on, every screen is the undisturbed run's, at its time.
        const int64_t resumed = int64_t(o.from + 7) * 1000;
        std::vector<int64_t> want, got;
        for (const Change& c : plain.changes)
            if (c.ms >= resumed) want.push_back(c.ms);
        for (const Change& c : cut.changes) {
            EXPECT_FALSE(c.ms > o.from * 1000 + 500 && c.ms < resumed) << c.ms;
            if (c.ms >= resumed) got.push_back(c.ms);
        }
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(got, want);
    }
}

}  // namespace
}  // namespace e2e
