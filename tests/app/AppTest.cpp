#include <gtest/gtest.h>

#include <string>

#include "app/gTEKOApp.h"
#include "support/TempRoot.h"
#include "support/TextCount.h"

namespace {

// Runs the main loop for a fixed number of polls, without real sleeps, and
// lets a test change the files between polls.
class CountingBackend : public platform::RootedBackend {
public:
    CountingBackend(const std::string& root, int polls)
        : platform::RootedBackend(root), previous_(&platform::Current()), left_(polls) {
        platform::Install(this);
    }
    ~CountingBackend() override { platform::Install(previous_); }
    bool PollSleep(unsigned microseconds) override {
        EXPECT_EQ(microseconds, 500000u);
        ++polls;
        if (onPoll) onPoll(polls);
        return left_-- > 0;
    }
    void (*onPoll)(int) = nullptr;
    int polls = 0;

private:
    platform::Backend* previous_;
    int left_;
};

TEST(App, ConstructionReadsNothingAndStartsWithTheTableValues) {
    TempRoot root;
    root.Write("/etc/TEKO.conf", "Language ger\n");
    testing::internal::CaptureStderr();
    {
        gTEKOApp app;
        EXPECT_EQ(app.serviceId, -1);
        EXPECT_EQ(app.pmtPid, -1);
        EXPECT_EQ(app.videoFormat, 4);
        EXPECT_TRUE(app.keepRunning);
        EXPECT_EQ(app.language, "");
        std::string language;
        app.settings.GetValue("Language", language);
        EXPECT_EQ(language, "swe");  // the file is not read yet
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: DVBSubtitle created.\nTEKO: TXTSubtitle created.\nTEKO: PESFilter created.\n"
              "TEKO: PMTLoader created.\nTEKO: Application created.\n");
}

TEST(App, LoadConfigurationCopiesTheSelectionSettings) {
    TempRoot root;
    testing::internal::CaptureStderr();
    gTEKOApp app;
    app.loadConfiguration();  // no file: the defaults
    EXPECT_EQ(app.language, "swe");
    EXPECT_EQ(app.secondaryLanguage, "eng");
    EXPECT_EQ(app.subtileType, 2);
    EXPECT_EQ(app.useDVBFirst, 1);
    EXPECT_EQ(app.useExternalChannels, 2);

    root.Write("/etc/TEKO.conf",
               "Language ger\nSecondaryLanguage fre\nSubtileType 5\nUseDVBFirst 2\n"
               "UseExternalChannels 1\n");
    app.loadConfiguration();
    // The others keep the last load; a value that is no number gives the default.
    root.Write("/etc/TEKO.conf", "SubtileType x\n");
    app.loadConfiguration();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(app.language, "ger");
    EXPECT_EQ(app.secondaryLanguage, "fre");
    EXPECT_EQ(app.subtileType, 2);
    EXPECT_EQ(app.useDVBFirst, 2);
    EXPECT_EQ(app.useExternalChannels, 1);
}

TEST(App, RunLoadsTheConfigurationThenPollsEveryHalfSecond) {
    TempRoot root;
    CountingBackend backend(root.Path(), 4);
    testing::internal::CaptureStderr();
    {
        gTEKOApp app;
        app.run();
        EXPECT_FALSE(app.keepRunning);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(backend.polls, 5);
    EXPECT_NE(log.find("TEKO: Application created.\nTEKO: Load settings from: /etc/TEKO.conf\n"
                       "TEKO: CONFIG: BackgroundColor = 00000044\n"),
              std::string::npos);
    EXPECT_EQ(CountOf(log, "TEKO: CONFIG: "), 25);
    EXPECT_EQ(CountOf(log, "TEKO: Could not find TEKO.tmp...is Python plugin running?\n"), 1);
    const std::string end = "TEKO: Exit from main loop...bye bye...\n";
    EXPECT_EQ(log.substr(log.size() - end.size()), end);
}

TEST(App, RunFollowsTheDisableAndReloadFlags) {
    TempRoot root;
    root.Write("/tmp/TEKO.tmp", "100\n512\n513\n514\n2\n0\n96\n");
    root.Write("/tmp/.TEKO_Disable", "");
    static TempRoot* files = &root;
    CountingBackend backend(root.Path(), 6);
    backend.onPoll = [](int poll) {
        if (poll == 3) files->Remove("/tmp/.TEKO_Disable");
        if (poll == 5) files->Write("/tmp/.TEKO_Reload", "");
    };
    testing::internal::CaptureStderr();
    gTEKOApp app;
    app.run();
    const std::string log = testing::internal::GetCapturedStderr();
    // Disabled for two polls: the hand-off file is not read meanwhile.
    EXPECT_EQ(CountOf(log, "TEKO: Strange"), 0);
    EXPECT_EQ(app.serviceId, 100);
    EXPECT_EQ(CountOf(log, "TEKO: Reload configs requested.\n"), 1);
    EXPECT_EQ(CountOf(log, "TEKO: Load settings from: /etc/TEKO.conf\n"), 2);
    EXPECT_FALSE(root.Exists("/tmp/.TEKO_Reload"));
}

}  // namespace
