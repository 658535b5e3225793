// Things an unprivileged user can plant at the daemon's paths in /tmp: a
// FIFO (an open would block for good), a link to a root-only file (an open
// would read it as root) and a folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "AppHarness.h"
#include "platform/Paths.h"

namespace {

using apptest::AppHarness;
using apptest::Dvb;

constexpr int kService = 1000;
const char kStartDvb[] = "TEKO: Start DVB Subtile: PID=5e8\n";

void Plant(const AppHarness& h, const char* fixedPath, char kind) {
    const std::string at = h.env.root.At(fixedPath);
    unlink(at.c_str());
    rmdir(at.c_str());
    int made = 0;
    if (kind == 'f') made = mkfifo(at.c_str(), 0666);
    if (kind == 'd') made = mkdir(at.c_str(), 0777);
    if (kind == 'l') made = symlink(h.env.root.At("/root/secret").c_str(), at.c_str());
    ASSERT_EQ(made, 0) << at;
}

// Planted before the daemon starts: nothing stalls, nothing of the secret
// reaches the log, no flag counts, and once the front end writes its file
// (a rename over what was planted) the service is followed within two polls.
TEST(WorldFiles, PlantedFifosLinksAndFoldersNeitherStallNorLeak) {
    for (const char* path : {paths::kHandOff, paths::kDisableFlag, paths::kReloadFlag})
        for (char kind : {'f', 'l', 'd'}) {
            SCOPED_TRACE(std::string(path) + " " + kind);
            AppHarness h;
            h.Mux({{kService, {Dvb("swe")}, {}}});
            h.env.root.Write("/root/secret", "271828\n1\n2\n3\n4\n0\n314159\n");
            const bool handOff = path == std::string(paths::kHandOff);
            if (!handOff) h.HandOff(kService);
            Plant(h, path, kind);
            h.Run(
                [&](int poll) {
                    if (poll == 4 && handOff) {
                        // The front end's file replaces what was planted.
                        unlink(h.env.root.At(path).c_str());
                        rmdir(h.env.root.At(path).c_str());
                        h.HandOff(kService);
                    }
                    return true;
                },
                8);
            const int started = h.FirstPassWith(kStartDvb);
            ASSERT_GT(started, 0);
            EXPECT_LE(started, handOff ? 6 : 2);
            EXPECT_EQ(h.FirstPassWith("271828"), -1);
            EXPECT_EQ(h.FirstPassWith("314159"), -1);
            EXPECT_EQ(h.FirstPassWith("zzzzzzz"), -1);  // not disabled
            EXPECT_EQ(h.FirstPassWith("Reload configs requested"), -1);
            // Told once, not at every poll.
            EXPECT_LE(h.PassesWith("taken as absent").size(), 1u);
        }
}

}  // namespace
