// tekoctl against the daemon's own readers: what it writes is what the
// service watch reads, the hand-off file is never seen half-written, and
// bad arguments change nothing.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TekoCtl.h"
#include "app/gTEKOApp.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

namespace {

int Ctl(std::vector<const char*> args, std::string* err = nullptr) {
    args.insert(args.begin(), "tekoctl");
    testing::internal::CaptureStderr();
    const int status = TekoCtlMain(int(args.size()), args.data());
    const std::string out = testing::internal::GetCapturedStderr();
    if (err) *err = out;
    return status;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.' || (std::string(e->d_name) != "." && std::string(e->d_name) != ".."))
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

TEST(TekoCtl, TuneWritesWhatTheServiceWatchReads) {
    TempRoot root;
    EXPECT_EQ(Ctl({"tune", "1000", "512", "513", "514", "13", "1", "-1"}), 0);
    EXPECT_EQ(Read(root.At(paths::kHandOff)), "1000\n512\n513\n514\n13\n1\n-1\n");
    EXPECT_EQ(Entries(root.At("/tmp")), std::vector<std::string>{"TEKO.tmp"});  // no temporary left

    testing::internal::CaptureStderr();
    gTEKOApp app;
    EXPECT_EQ(app.HasServiceChanged(), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(app.serviceId, 1000);
    EXPECT_EQ(app.videoFormat, 4);
    EXPECT_EQ(app.playback, 2);
    EXPECT_EQ(app.pmtPid, -1);

    EXPECT_EQ(Ctl({"disable"}), 0);
    EXPECT_EQ(app.IsDisabled(), 1);
    EXPECT_EQ(Ctl({"enable"}), 0);
    EXPECT_EQ(app.IsDisabled(), 0);
    EXPECT_EQ(Ctl({"enable"}), 0);  // already enabled

    EXPECT_EQ(Ctl({"reload"}), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(app.HasServiceChanged(), 1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("TEKO: Reload configs requested.\n"), std::string::npos);
    EXPECT_FALSE(root.Exists(paths::kReloadFlag));
}

TEST(TekoCtl, BadArgumentsGetTheUsageLineAndStatus2) {
    TempRoot root;
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"tune"},
        {"tune", "1", "2", "3", "4", "5", "6"},
        {"tune", "1", "2", "3", "4", "5", "6", "7", "8"},
        {"tune", "1", "2", "3", "4", "5", "6", "x"},
        {"tune", "1", "2", "3", "4", "5", "6", "7x"},
        {"tune", "1", "2", "3", "4", "5", "6", ""},
        {"tune", " 1", "2", "3", "4", "5", "6", "7"},
        {"tune", "1", "2", "3", "4", "5", "6", "99999999999"},
        {"disable", "now"},
        {"enable", "1"},
        {"reload", "x"},
        {"status"},
        {"--help"},
    };
    for (const auto& args : bad) {
        std::string err;
        EXPECT_EQ(Ctl(args, &err), 2) << (args.empty() ? "" : args[0]) << " " << args.size();
        EXPECT_EQ(err, kTekoCtlUsage);
    }
    EXPECT_TRUE(Entries(root.At("/tmp")).empty());
}

TEST(TekoCtl, FailureToWriteIsReportedWithStatus1) {
    TempRoot root;
    ASSERT_EQ(system(("rm -rf '" + root.At("/tmp") + "'").c_str()), 0);
    std::string err;
    EXPECT_EQ(Ctl({"tune", "1", "2", "3", "4", "5", "6", "7"}, &err), 1);
    EXPECT_EQ(err.rfind("tekoctl: cannot create a file in ", 0), 0u) << err;
    EXPECT_EQ(Ctl({"disable"}, &err), 1);
    EXPECT_EQ(Ctl({"reload"}, &err), 1);
}

// Run as root, tekoctl does not act through a link or on a FIFO that
// someone planted at a flag's path: it says so, exits 1 and leaves both.
TEST(TekoCtl, PlantedLinksAndFifosAreRefused) {
    TempRoot root;
    root.Write("/etc/only-root", "kept");
    const std::string flag = root.At(paths::kDisableFlag);
    for (bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "FIFO" : "link");
        unlink(flag.c_str());
        ASSERT_EQ(fifo ? mkfifo(flag.c_str(), 0666) : symlink(root.At("/etc/only-root").c_str(), flag.c_str()), 0);
        for (const char* command : {"disable", "enable"}) {
            std::string err;
            EXPECT_EQ(Ctl({command}, &err), 1) << command;
            EXPECT_NE(err.find("refusing"), std::string::npos) << err;
        }
        struct stat st;
        ASSERT_EQ(lstat(flag.c_str(), &st), 0);
        EXPECT_TRUE(fifo ? S_ISFIFO(st.st_mode) : S_ISLNK(st.st_mode));
        EXPECT_EQ(Read(root.At("/etc/only-root")), "kept");
    }
}

// A reader polling the file while services are tuned back and forth only
// ever sees one whole service or the other.
TEST(TekoCtl, TheHandOffFileIsNeverSeenHalfWritten) {
    TempRoot root;
    const int a[7] = {1000, 512, 513, 514, 2, 0, 1256};
    const int b[7] = {1001, 612, 613, 614, 3, 1, 1257};
    ASSERT_EQ(WriteHandOff(a), "");
    const std::string textA = Read(root.At(paths::kHandOff));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) EXPECT_EQ(WriteHandOff(i % 2 ? a : b), "");
        done = true;
    });
    int reads = 0, torn = 0;
    while (!done) {
        const std::string text = Read(root.At(paths::kHandOff));
        ++reads;
        if (text != textA && text != "1001\n612\n613\n614\n3\n1\n1257\n") ++torn;
    }
    writer.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(Entries(root.At("/tmp")), std::vector<std::string>{"TEKO.tmp"});
}

}  // namespace
