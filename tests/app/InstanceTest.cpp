// One daemon at a time: the pid file's lock.
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/Paths.h"
#include "platform/Signals.h"
#include "support/TempRoot.h"

namespace {

std::string Read(const TempRoot& root, const std::string& fixedPath) {
    std::ifstream in(root.At(fixedPath));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A lock held in this process shuts out another process (a child), which
// learns the holder's pid; a link planted at the path is never followed.
TEST(Instance, ASecondDaemonFindsTheLockHeld) {
    TempRoot root;
    root.Write("/run/.keep", "");
    int holder = -1;
    ASSERT_EQ(platform::LockPidFile(paths::kPidFile, holder), 0);
    EXPECT_EQ(Read(root, paths::kPidFile), std::to_string(getpid()) + "\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int other = 0;
        const int result = platform::LockPidFile(paths::kPidFile, other);
        _exit(result == 1 && other == getppid() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    root.Write("/run/target", "keep");
    ASSERT_EQ(symlink((root.Path() + "/run/target").c_str(), (root.Path() + "/run/link.pid").c_str()), 0);
    EXPECT_EQ(platform::LockPidFile("/run/link.pid", holder), -1);
    EXPECT_EQ(errno, ELOOP);
    EXPECT_EQ(Read(root, "/run/target"), "keep");
}

}  // namespace
