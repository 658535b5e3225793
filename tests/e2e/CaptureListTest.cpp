// tekod-sim on captures as a user meets them: --list names what a capture
// carries and ends with a command line that plays it; a capture without
// PAT/PMT plays with --pid, and is refused with a pointer to --list/--pid
// without it; --language chooses a stream the configuration would not.
#include <gtest/gtest.h>

#include <sstream>

#include "E2eTest.h"

namespace e2e {
namespace {

struct CaptureCase {
    const char* name;
    const char* file;  // under the shared samples; "demo.ts" is data/samples/demo.ts
    std::vector<std::string> args;
    int status;
    std::vector<std::string> facts;  // each somewhere in what it printed
    int minChanges;                  // a run: at least that many screen changes; -1: no run
};

std::string PathOf(const char* file) {
    const std::string path = std::string(file) == "demo.ts" ? std::string(TEKO_SOURCE_DIR "/data/samples/demo.ts")
                                                            : std::string(TEKO_SAMPLES_DIR "/") + file;
    return ReadText(path).empty() ? std::string() : path;
}

// The words of the printed "example: tekod-sim ..." line after the program.
std::vector<std::string> ExampleArgs(const std::string& out) {
    const size_t at = out.find("example: tekod-sim ");
    if (at == std::string::npos) return {};
    std::istringstream line(out.substr(at + 19, out.find('\n', at) - at - 19));
    std::vector<std::string> words;
    for (std::string word; line >> word;) words.push_back(word);
    return words;
}

TEST(CaptureList, ListsPlaysAndRefusesAsTheCaptureAllows) {
    const std::vector<CaptureCase> cases = {
        {"demo_list", "demo.ts", {"--list"}, 0,
         {"service 1 ", "0x0029 (41)  DVB  fra", "service 2 ", "0x042C (1068)  Teletext  fra", "page 889", "page 888"}, -1},
        {"rai_list", "tsduck-test-108.ts", {"--list"}, 0,
         {"8 services", "\"Rai 2\"", "0x0241 (577)  Teletext  ita", "page 777", "no subtitle page"}, -1},
        {"graphics_list", "subtitleedit-sample_TS_with_graphics.ts", {"--list"}, 0,
         {"no PAT", "0x0029 (41)  DVB", "page ids 2", "--pid 41 --dvb"}, -1},
        {"teletext_list", "subtitleedit-sample_TS_with_teletext.ts", {"--list"}, 0,
         {"0x13F0 (5104)  Teletext", "subtitle pages 150 799", "--pid 5104 --teletext 150"}, -1},
        {"graphics_no_pid", "subtitleedit-sample_TS_with_graphics.ts", {}, 2, {"--pid", "--list"}, -1},
        {"graphics_wrong_page", "subtitleedit-sample_TS_with_graphics.ts", {"--pid", "41", "--page-id", "7"}, 2,
         {"page ids: 2"}, -1},
        {"teletext_wrong_page", "subtitleedit-sample_TS_with_teletext.ts", {"--pid", "5104", "--teletext", "151"}, 2,
         {"150 799"}, -1},
        {"graphics_pid", "subtitleedit-sample_TS_with_graphics.ts", {"--pid", "41", "--dvb"}, 0, {}, 10},
        {"teletext_pid_danish", "subtitleedit-sample_TS_with_teletext.ts",
         {"--pid", "0x13F0", "--teletext", "799", "--language", "dan"}, 0, {}, 2},
        {"demo_language", "demo.ts", {"--service", "1", "--language", "fre,eng", "--duration", "8"}, 0, {}, 2},
    };
    TempDir tmp;
    for (const CaptureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ts = PathOf(c.file);
        if (ts.empty()) continue;  // a shared sample that is not there
        const std::string out = tmp.Path() + "/" + c.name;
        std::vector<std::string> args = {"--ts", ts, "--quiet"};
        if (c.minChanges >= 0 || c.status != 0) args.insert(args.end(), {"--out", out});
        args.insert(args.end(), c.args.begin(), c.args.end());
        const SimResult r = RunSim(args, c.minChanges >= 0 ? out : "");
        EXPECT_EQ(r.status, c.status) << r.err;
        for (const std::string& fact : c.facts)
            EXPECT_NE((r.out + r.err).find(fact), std::string::npos) << fact << " in\n" << r.out << r.err;
        if (c.minChanges >= 0) {
            EXPECT_GE(int(r.changes.size()), c.minChanges) << r.err;
        }
        if (c.status != 0) {
            EXPECT_EQ(r.err.compare(0, 10, "tekod-sim:"), 0) << r.err;
        }
    }
}

// The command --list suggests plays subtitles, with PSI or without.
TEST(CaptureList, ExampleCommandShowsSubtitles) {
    TempDir tmp;
    for (const char* file : {"demo.ts", "subtitleedit-sample_TS_with_graphics.ts"}) {
        SCOPED_TRACE(file);
        const std::string ts = PathOf(file);
        if (ts.empty()) continue;
        const SimResult list = RunSim({"--ts", ts, "--list"}, "");
        std::vector<std::string> args = ExampleArgs(list.out);
        ASSERT_GE(args.size(), 4u) << list.out;
        const std::string out = tmp.Path() + "/" + std::to_string(args.size()) + file;
        for (std::string& word : args)
            if (word == "sim-out") word = out;
        args.insert(args.end(), {"--quiet", "--duration", "12"});
        const SimResult run = RunSim(args, out);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_GE(run.changes.size(), 2u) << run.err;
    }
}

}  // namespace
}  // namespace e2e
