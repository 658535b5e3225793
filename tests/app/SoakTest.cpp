// Thousands of service changes with decoding running, on the fast clock:
// descriptors, threads and resident memory must not grow. Disabled in the
// normal run (it takes a while); scripts/soak.sh runs it and prints the
// figures.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "app/AppHarness.h"

namespace {

using apptest::AppHarness;
using apptest::Dvb;
using apptest::Txt;

struct Usage {
    int descriptors = 0;
    int threads = 0;
    long rssKb = 0;
};

long StatusField(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + strlen(key), nullptr, 10);
    return -1;
}

Usage Measure() {
    Usage u;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(d)) u.descriptors += e->d_name[0] != '.';
        closedir(d);
        --u.descriptors;  // the one opendir holds
    }
    u.threads = int(StatusField("Threads:"));
    u.rssKb = StatusField("VmRSS:");
    return u;
}

int Changes() {
    const char* env = getenv("TEKO_SOAK_CHANGES");
    return env && atoi(env) > 100 ? atoi(env) : 5000;
}

TEST(Soak, DISABLED_ServiceChangesWithDecodingLeakNothing) {
    const int total = Changes();
    AppHarness h(400.0);
    h.quiet = true;
    // A DVB service and a Teletext service, alternately.
    h.Mux({{1000, {Dvb("swe")}, {}}, {1001, {}, {Txt("swe")}}});
    h.HandOff(1000);
    int changes = 0, lastChange = 0, pesSeen = 0;
    Usage early, late;
    h.Run(
        [&](int poll) {
            // Change only once decoding of the previous service runs.
            if (!h.app->decoding || poll - lastChange < 2) return true;
            if (changes == 100) early = Measure();
            if (changes == total) {
                late = Measure();
                return false;
            }
            pesSeen += h.app->pesFilter.Running();
            h.HandOff(changes % 2 ? 1000 : 1001);
            ++changes;
            lastChange = poll;
            return true;
        },
        total * 10);
    const double growth = 100.0 * double(late.rssKb - early.rssKb) / double(early.rssKb);
    printf("service changes: %d in %d polls\n", changes, h.env.backend.PollCount());
    printf("after 100:  descriptors %d, threads %d, RSS %ld kB\n", early.descriptors, early.threads, early.rssKb);
    printf("after %d: descriptors %d, threads %d, RSS %ld kB (%+.2f %%)\n", total, late.descriptors, late.threads,
           late.rssKb, growth);
    printf("screen: %d blits, %d mappings at the end\n", h.fb.Blits(), h.fb.Mappings());
    EXPECT_EQ(changes, total);
    EXPECT_EQ(pesSeen, total);
    EXPECT_EQ(late.descriptors, early.descriptors);
    EXPECT_EQ(late.threads, early.threads);
    EXPECT_LT(growth, 1.0);
    EXPECT_EQ(h.fb.Mappings(), 0);
    EXPECT_EQ(h.env.demux.OpenCount(), 0);
}

}  // namespace
