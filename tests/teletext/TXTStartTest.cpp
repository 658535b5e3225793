#include <algorithm>
// Start-up: the settings sets by picture format and screen depth, the line
// metrics, and the reset of reception.
#include <gtest/gtest.h>

#include "support/TempRoot.h"
#include "TxtTestSupport.h"
#include "config/Options.h"
#include "config/Settings.h"
#include "platform/Paths.h"

namespace {

class TXTStart : public testing::Test {
protected:
    // Starts on page 0x150 with the configuration `conf` over the defaults.
    std::string Start(const std::string& conf, int bpp, int videoFormat) {
        root.Write(paths::kConfig, conf);
        testing::internal::CaptureStderr();
        settings.LoadFromFile(paths::kConfig);
        txt.style = config::ReadOptions(settings).teletext;
        loadLog = testing::internal::GetCapturedStderr();
        fake.bpp = bpp;
        fake.ascent = 26;
        fake.descent = 7;
        txt.display = &fake;
        txt.videoFormat = videoFormat;
        testing::internal::CaptureStderr();
        txt.Start(0x150);
        return testing::internal::GetCapturedStderr();
    }

    TempRoot root;
    std::string loadLog;  // what the load and the check of the values logged
    Settings settings;
    FakeDisplay fake;
    TXTSubtitle txt;
};

const char kBothSets[] =
    "FontSize 30\nRowSpace 4\nStartYPos -10\nExtraYSize 10\n"
    "WideFontSize 24\nWideRowSpace 2\nWideStartYPos 20\nWideExtraYSize -3\n";

}  // namespace

TEST_F(TXTStart, FourThreeSetOnA32BitScreen) {
    std::string log = Start(std::string(kBothSets) + "TextColor ffffffff\nCenterText 0\n", 32, 4);
    EXPECT_EQ(log,
              "TEKO: Drawing using 4:3 settings...\n"
              "TEKO: Drawing TextColor: ffffffff\n"
              "TEKO: Drawing OutlineColor: ff\n"
              "TEKO: Drawing BackgroundColor: 44\n"
              "TEKO: CollisionDetection: 1\n");
    EXPECT_EQ(txt.fontSize, 30);
    EXPECT_EQ(txt.rowSpace, 4);
    EXPECT_EQ(txt.startYPos, -10);
    EXPECT_EQ(txt.extraYSize, 10);
    EXPECT_EQ(txt.textColor, int(0xFFFFFFFFu));
    EXPECT_EQ(txt.outlineColor, 0xFF);
    EXPECT_EQ(txt.backgroundColor, 0x44);
    EXPECT_EQ(txt.startXPos, 60);
    EXPECT_EQ(txt.centerText, 0);
    EXPECT_EQ(txt.useBackground, 2);
    EXPECT_EQ(txt.outlineSize, 2);  // no key, no default: the preset
    // Measured 26 and 7, plus the margins of an extra size of 10.
    EXPECT_EQ(txt.textHeight, 31);
    EXPECT_EQ(txt.textDepth, 15);
    EXPECT_EQ(txt.highestRow, 576);
    EXPECT_EQ(txt.lowestRow, 0);
    // Eight outline copies by default.
    txt.renderSubtitle("x", 21);
    EXPECT_EQ(fake.texts.size(), 9u);
}

TEST_F(TXTStart, WideSetOnAPaletteScreen) {
    std::string log = Start(std::string(kBothSets) + "TextColor 12345678\nPaletteTextColor 7\nOutlineSize 1\n"
                                                     "CollisionDetection 0\n",
                            8, 16);
    EXPECT_NE(log.find("TEKO: Drawing using 16:9 settings...\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: Drawing TextColor: 7\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: CollisionDetection: 0\n"), std::string::npos);
    EXPECT_EQ(txt.fontSize, 24);
    EXPECT_EQ(txt.rowSpace, 2);
    EXPECT_EQ(txt.startYPos, 20);
    EXPECT_EQ(txt.textColor, 7);
    EXPECT_EQ(txt.outlineColor, 24);
    EXPECT_EQ(txt.backgroundColor, 24);
    EXPECT_EQ(txt.outlineSize, 1);
    // -3 / 2 truncates to -1: the height loses one line, the depth gains two.
    EXPECT_EQ(txt.textHeight, 25);
    EXPECT_EQ(txt.textDepth, 9);
}

// A value that is no number or out of its key's range is told of in one
// line and replaced by the default; a good one is taken as it is.
TEST_F(TXTStart, BadValuesAreLoggedAndTheDefaultApplies) {
    const struct {
        const char* line;
        int fontSize, outlineSize;
        bool logged;
    } kCases[] = {
        // Each file loads over the ones before it, so it sets both again first.
        {"FontSize -5\n", 28, 2, true},   {"FontSize 0\n", 28, 2, true},       {"FontSize 100000\n", 28, 2, true},
        {"FontSize big\n", 28, 2, true},  {"OutlineSize -1\n", 28, 2, true}, {"OutlineSize 3\n", 28, 3, false},
        {"FontSize 40\n", 40, 2, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.line);
        Start(std::string("FontSize 28\nOutlineSize 2\n") + c.line, 32, 4);
        EXPECT_EQ(txt.fontSize, c.fontSize);
        EXPECT_EQ(txt.outlineSize, c.outlineSize);
        size_t told = 0;
        for (size_t at = loadLog.find("Setting "); at != std::string::npos; at = loadLog.find("Setting ", at + 1))
            ++told;
        EXPECT_EQ(told, c.logged ? 1u : 0u) << loadLog;
    }
}

TEST_F(TXTStart, ResetsReceptionAndStopClearsTheScreen) {
    Start("", 32, 4);
    Feed(txt, {Head(1, 0x50), ttx::RowPacket(1, 22, ttx::SubtitleRow("old"))});
    EXPECT_EQ(txt.receiving, 1);
    // A new start forgets which page runs in each magazine.
    Start("", 32, 4);
    EXPECT_EQ(txt.receiving, 0);
    EXPECT_EQ(txt.magazinePage[1], -1);
    Feed(txt, {ttx::RowPacket(1, 22, ttx::SubtitleRow("new")), Head(2, 0x00)});
    EXPECT_EQ(RowText(txt.receivePage[21]), Padded(""));
    EXPECT_TRUE(fake.texts.empty());
    int clears = fake.clears;
    testing::internal::CaptureStderr();
    EXPECT_EQ(txt.Stop(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(fake.clears, clears + 1);
}
