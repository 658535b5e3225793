#include <gtest/gtest.h>

#include <string>

#include "app/gTEKOApp.h"
#include "support/TempRoot.h"

namespace {

const char kNoHandOff[] = "TEKO: Could not find TEKO.tmp...is Python plugin running?\n";

class ServiceWatchTest : public testing::Test {
protected:
    ServiceWatchTest() {
        testing::internal::CaptureStderr();
        app = new gTEKOApp;
        testing::internal::GetCapturedStderr();
    }
    ~ServiceWatchTest() override { delete app; }

    // Writes the hand-off file, asks the service watch and keeps its log.
    int Poll(const std::string& handOff) {
        root.Write("/tmp/TEKO.tmp", handOff);
        return Poll();
    }
    int Poll() {
        testing::internal::CaptureStderr();
        const int changed = app->HasServiceChanged();
        log = testing::internal::GetCapturedStderr();
        return changed;
    }
    void ExpectReset() {
        EXPECT_EQ(app->serviceId, -1);
        EXPECT_EQ(app->videoPid, -1);
        EXPECT_EQ(app->audioPid, -1);
        EXPECT_EQ(app->teletextPid, -1);
        EXPECT_EQ(app->pmtPid, -1);
        EXPECT_EQ(app->videoFormat, 4);
        EXPECT_EQ(app->playback, 0);
    }

    TempRoot root;
    gTEKOApp* app = nullptr;
    std::string log;
};

TEST_F(ServiceWatchTest, StoresTheSevenLinesAndReportsOnlyChanges) {
    EXPECT_EQ(Poll("100\n512\n513\n514\n2\n0\n96\n"), 1);
    EXPECT_EQ(log, "");
    EXPECT_EQ(app->serviceId, 100);
    EXPECT_EQ(app->videoPid, 512);
    EXPECT_EQ(app->audioPid, 513);
    EXPECT_EQ(app->teletextPid, 514);
    EXPECT_EQ(app->videoFormat, 16);
    EXPECT_EQ(app->playback, 0);
    EXPECT_EQ(app->pmtPid, 96);
    EXPECT_EQ(Poll(), 0);

    // Each field alone is a change; the SID stays.
    const char* variants[] = {"100\n600\n513\n514\n2\n0\n96\n", "100\n600\n601\n514\n2\n0\n96\n",
                              "100\n600\n601\n602\n2\n0\n96\n", "100\n600\n601\n602\n1\n0\n96\n",
                              "100\n600\n601\n602\n1\n5\n96\n", "100\n600\n601\n602\n1\n0\n96\n",
                              "100\n600\n601\n602\n1\n0\n97\n"};
    for (const char* variant : variants) EXPECT_EQ(Poll(variant), 1) << variant;
    EXPECT_EQ(app->serviceId, 100);
    EXPECT_EQ(app->videoFormat, 4);
    EXPECT_EQ(app->playback, 0);

    // Numbers as "%d" reads them: white space first, anything after ignored.
    EXPECT_EQ(Poll("  100 extra\n600x\n601\r\n602\n1\n0\n97\n8\n9\n"), 0);
}

TEST_F(ServiceWatchTest, MapsAspectAndSeekable) {
    const std::pair<const char*, int> aspects[] = {{"0", 4},  {"1", 4},  {"5", 4},  {"9", 4},
                                                   {"13", 4}, {"2", 16}, {"3", 16}, {"-1", 16},
                                                   {"4", 16}, {"16", 16}};
    for (const auto& aspect : aspects) {
        Poll(std::string("1\n2\n3\n4\n") + aspect.first + "\n0\n5\n");
        EXPECT_EQ(app->videoFormat, aspect.second) << aspect.first;
    }
    Poll("1\n2\n3\n4\n0\n5\n5\n");
    EXPECT_EQ(app->playback, 2);
    Poll("1\n2\n3\n4\n0\n-1\n5\n");
    EXPECT_EQ(app->playback, 2);
    EXPECT_EQ(Poll("1\n2\n3\n4\n0\n0\n5\n"), 1);
    EXPECT_EQ(app->playback, 0);
}

TEST_F(ServiceWatchTest, MissingPmtIsLoggedAndStored) {
    EXPECT_EQ(Poll("100\n512\n513\n514\n2\n0\n-1\n"), 1);
    EXPECT_EQ(log, "TEKO: Strange...no PMT??? Hrm...\n");
    EXPECT_EQ(app->pmtPid, -1);
    EXPECT_EQ(Poll(), 0);  // nothing changed: still logged
    EXPECT_EQ(log, "TEKO: Strange...no PMT??? Hrm...\n");
}

TEST_F(ServiceWatchTest, FailuresKeepWhatWasReadBeforeThem) {
    Poll("100\n512\n513\n514\n2\n0\n96\n");

    EXPECT_EQ(Poll("abc\n512\n"), 0);
    EXPECT_EQ(log, "TEKO: Failed to read SID\n");
    ExpectReset();

    // A new SID resets the rest first; the torn file stores what it read.
    Poll("100\n512\n513\n514\n2\n0\n96\n");
    EXPECT_EQ(Poll("200\n700\n"), 0);
    EXPECT_EQ(log, "TEKO: Failed to read APID\n");
    EXPECT_EQ(app->serviceId, 200);
    EXPECT_EQ(app->videoPid, 700);
    EXPECT_EQ(app->audioPid, -1);
    EXPECT_EQ(app->pmtPid, -1);
    // ...so the complete file still reports the change.
    EXPECT_EQ(Poll("200\n700\n701\n702\n2\n0\n96\n"), 1);

    const std::pair<const char*, const char*> failures[] = {
        {"200\n", "TEKO: Failed to read VPID\n"},
        {"200\n700\nx\n", "TEKO: Failed to read APID\n"},
        {"200\n700\n701\n\n", "TEKO: Failed to read TPID\n"},
        {"200\n700\n701\n702\n2\n", "TEKO: Failed to read Seekable\n"},
        {"200\n700\n701\n702\n2\n0\n", "TEKO: Failed to read PMT\n"},
        {"200\n700\n701\n702\n2\n0\n-\n", "TEKO: Failed to read PMT\n"},
    };
    for (const auto& failure : failures) {
        EXPECT_EQ(Poll(failure.first), 0) << failure.first;
        EXPECT_EQ(log, failure.second) << failure.first;
    }

    // Four lines: Aspect fails as 0 (a 4:3 picture) and the read goes on.
    EXPECT_EQ(Poll("200\n700\n701\n702\n"), 0);
    EXPECT_EQ(log, "TEKO: Failed to read Aspect\nTEKO: Failed to read Seekable\n");
    EXPECT_EQ(app->videoFormat, 4);
    EXPECT_EQ(app->serviceId, 200);
}

TEST_F(ServiceWatchTest, MissingFileResetsAndTheSameServiceIsNewAgain) {
    root.Write("/tmp/.TEKO_Disable", "");
    root.Write("/tmp/.TEKO_Reload", "");
    Poll("100\n512\n513\n514\n2\n0\n96\n");  // consumes the reload flag
    root.Write("/tmp/.TEKO_Reload", "");
    root.Remove("/tmp/TEKO.tmp");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Poll(), 0);
        EXPECT_EQ(log, i == 0 ? kNoHandOff : "");  // told once
        ExpectReset();
    }
    EXPECT_TRUE(root.Exists("/tmp/.TEKO_Reload"));  // waits for a complete read
    EXPECT_TRUE(root.Exists("/tmp/.TEKO_Disable"));
    root.Remove("/tmp/.TEKO_Reload");
    EXPECT_EQ(Poll("100\n512\n513\n514\n2\n0\n96\n"), 1);
}

TEST_F(ServiceWatchTest, ReloadFlagIsConsumedAndReloadsTheConfiguration) {
    Poll("100\n512\n513\n514\n2\n0\n96\n");
    root.Write("/etc/TEKO.conf", "Language ger\nUseDVBFirst 0\n");
    root.Write("/tmp/.TEKO_Reload", "");
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(log.rfind("TEKO: Reload configs requested.\nTEKO: Load settings from: /etc/TEKO.conf\n", 0),
              0u);
    EXPECT_FALSE(root.Exists("/tmp/.TEKO_Reload"));
    EXPECT_EQ(app->language, "ger");
    EXPECT_EQ(app->useDVBFirst, 0);
    EXPECT_EQ(Poll(), 0);
}

TEST_F(ServiceWatchTest, OverlongAndBinaryLinesStayOnTheirLine) {
    // A number followed by a long tail: the tail is not the next line.
    const std::string tail(1000, ' ');
    EXPECT_EQ(Poll("100" + tail + "7\n512\n513\n514\n2\n0\n96\n"), 1);
    EXPECT_EQ(app->serviceId, 100);
    EXPECT_EQ(app->videoPid, 512);
    EXPECT_EQ(app->pmtPid, 96);
    // A number beyond the first 254 characters is not read.
    EXPECT_EQ(Poll(std::string(254, ' ') + "100\n"), 0);
    EXPECT_EQ(log, "TEKO: Failed to read SID\n");
    EXPECT_EQ(Poll(std::string("1\0002\n", 4) + "512\n513\n514\n2\n0\n96\n"), 1);
    EXPECT_EQ(app->serviceId, 1);
    EXPECT_EQ(app->videoPid, 512);
    // Only the first 64 KiB of a runaway file are read, and that is told.
    Poll(std::string(3 << 20, '\x01'));
    EXPECT_EQ(log, "TEKO: /tmp/TEKO.tmp is larger than 65536 bytes: the rest is not read\n"
                   "TEKO: Failed to read SID\n");
}

TEST_F(ServiceWatchTest, DisableFlagIsOnlyTestedForExistence) {
    EXPECT_EQ(app->IsDisabled(), 0);
    root.Write("/tmp/.TEKO_Disable", "");
    EXPECT_EQ(app->IsDisabled(), 1);
    EXPECT_EQ(app->IsDisabled(), 1);
    EXPECT_TRUE(root.Exists("/tmp/.TEKO_Disable"));
    root.Remove("/tmp/.TEKO_Disable");
    EXPECT_EQ(app->IsDisabled(), 0);
}

}  // namespace
