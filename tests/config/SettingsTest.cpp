#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/Settings.h"
#include "support/TempRoot.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

class SettingsTest : public testing::Test {
protected:
    // Loads `contents` as the configuration file and returns the log.
    std::string Load(const std::string& contents, int expected = 1) {
        root.Write("/etc/TEKO.conf", contents);
        testing::internal::CaptureStderr();
        EXPECT_EQ(settings.LoadFromFile("/etc/TEKO.conf"), expected);
        return testing::internal::GetCapturedStderr();
    }
    std::string Text(const std::string& key) {
        std::string value = "<absent>";
        settings.GetValue(key, value);
        return value;
    }

    TempRoot root;
    Settings settings;
};

TEST_F(SettingsTest, DefaultsAreDumpedInKeyOrderAfterTheLoadLine) {
    const std::vector<std::string> log = Lines(Load(""));
    ASSERT_EQ(log.size(), 26u);
    EXPECT_EQ(log[0], "TEKO: Load settings from: /etc/TEKO.conf");
    EXPECT_EQ(log[1], "TEKO: CONFIG: BackgroundColor = 00000044");
    EXPECT_EQ(log[5], "TEKO: CONFIG: Font = /usr/share/fonts/md_khmurabi_10.ttf");
    EXPECT_EQ(log[25], "TEKO: CONFIG: WideStartYPos = 0");
    for (size_t i = 2; i < log.size(); ++i) EXPECT_LT(log[i - 1], log[i]);

    for (const char* key : {"OSDMessages", "OutlineSize", "DVBMaxShowTime"}) {
        EXPECT_EQ(Text(key), "<absent>") << key;
    }
}

TEST_F(SettingsTest, MissingFileKeepsTheStoreAndStillDumps) {
    Load("Language ger\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(settings.LoadFromFile("/etc/missing.conf"), 0);
    const std::vector<std::string> log = Lines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(log.size(), 26u);
    EXPECT_EQ(log[0], "TEKO: Load settings from: /etc/missing.conf");
    EXPECT_EQ(Text("Language"), "ger");
}

TEST_F(SettingsTest, LinesSplitAtTheFirstBlankOnly) {
    Load("Language  fin\n"             // two blanks: the value begins with one
         "SecondaryLanguage eng # no inline comments\n"
         "OSDMessages\n"               // no blank: key and value are the line
         " orphan value\n"             // leading blank: the empty key
         "# Language xxx\n"
         "; Language yyy\n"
         "\n"
         "Tab\tkey value\n"            // a tab is ordinary text
         "StartXPos 70\r\n"            // CR stays in the value
         "FontSize 20\nFontSize 24\n"  // the last line wins
         "Custom a b  c ");            // no final line feed
    EXPECT_EQ(Text("Language"), " fin");
    EXPECT_EQ(Text("SecondaryLanguage"), "eng # no inline comments");
    EXPECT_EQ(Text("OSDMessages"), "OSDMessages");
    EXPECT_EQ(Text(""), "orphan value");
    EXPECT_EQ(Text("Tab\tkey"), "value");
    EXPECT_EQ(Text("StartXPos"), "70\r");
    EXPECT_EQ(Text("FontSize"), "24");
    EXPECT_EQ(Text("Custom"), "a b  c ");
    EXPECT_EQ(Text("#"), "<absent>");
}

TEST_F(SettingsTest, LaterLoadsOverlayEarlierOnes) {
    Load("Language ger\nRecDelay 9\n");
    Load("Language fre\n");
    EXPECT_EQ(Text("Language"), "fre");
    EXPECT_EQ(Text("RecDelay"), "9");
}

TEST_F(SettingsTest, DecimalReaderReadsTheLeadingNumber) {
    Load("RecDelay 7s\nA 0x10\nB  5\nC -12\nD red\nE +\nF 99999999999999999999\nOSDMessages\n");
    const std::pair<const char*, int> cases[] = {
        {"RecDelay", 7}, {"A", 0}, {"B", 5}, {"C", -12}, {"F", 2147483647}};
    for (const auto& c : cases) {
        int value = 42;
        EXPECT_EQ(settings.GetValue(c.first, value), 1) << c.first;
        EXPECT_EQ(value, c.second) << c.first;
    }
    for (const char* unreadable : {"D", "E", "OSDMessages"}) {
        int value = 42;
        EXPECT_EQ(settings.GetValue(unreadable, value), 1) << unreadable;
        EXPECT_EQ(value, 42) << unreadable;
    }
    int value = 42;
    EXPECT_EQ(settings.GetValue("DVBMaxShowTime", value), -1);
    EXPECT_EQ(value, 42);
    std::string text = "kept";
    EXPECT_EQ(settings.GetValue("DVBMaxShowTime", text), -1);
    EXPECT_EQ(text, "kept");
}

TEST_F(SettingsTest, HexReaderReadsLikePercentX) {
    Load("A 000000ff\nB 0x000000FF\nC red\nD  ff0000ff tail\nE 1ffffffff\n");
    const std::pair<const char*, int> cases[] = {
        {"A", 255}, {"B", 255}, {"D", static_cast<int>(0xff0000ffu)},
        {"TextColor", -1},  // ffffffff, bit for bit
        {"BackgroundColor", 0x44}};
    for (const auto& c : cases) {
        int value = 7;
        EXPECT_EQ(settings.GetValueHex(c.first, value), 1) << c.first;
        EXPECT_EQ(value, c.second) << c.first;
    }
    int value = 7;
    EXPECT_EQ(settings.GetValueHex("C", value), 1);
    EXPECT_EQ(value, 7);
    settings.GetValueHex("E", value);  // too wide: no fault, some value

    value = 7;
    testing::internal::CaptureStderr();
    EXPECT_EQ(settings.GetValueHex("OutlineSize", value), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: CONFIG: Failed to getValueHex()\n");
    EXPECT_EQ(value, 7);
}

TEST_F(SettingsTest, ShippedConfigurationEqualsTheBuiltInDefaults) {
    Settings defaults;
    testing::internal::CaptureStderr();
    defaults.Dump();
    const std::string expected = testing::internal::GetCapturedStderr();

    root.Write("/etc/TEKO.conf", "");
    std::string shipped = TEKO_SOURCE_DIR "/data/TEKO.conf";
    platform::RootedBackend none("");  // paths resolve to themselves
    platform::Install(&none);
    testing::internal::CaptureStderr();
    EXPECT_EQ(settings.LoadFromFile(shipped), 1);
    const std::string log = testing::internal::GetCapturedStderr();
    platform::Install(&root.Backend());
    EXPECT_EQ(log, "TEKO: Load settings from: " + shipped + "\n" + expected);
}

TEST_F(SettingsTest, HugeAndBinaryFilesAreReadWithoutFault) {
    // One 8 MB line without a blank, then a line of 1 MB blanks.
    std::string big(8 << 20, 'k');
    std::string contents = big + "\nKey" + std::string(1 << 20, ' ') + "\n";
    for (int i = 0; i < 4096; ++i) contents += static_cast<char>((i * 131 + 7) & 0xff);
    contents += "\nLanguage dan\n";
    Load(contents);
    EXPECT_EQ(Text(big).size(), big.size());
    EXPECT_EQ(Text("Key").size(), (1u << 20) - 1);
    EXPECT_EQ(Text("Language"), "dan");
}

}  // namespace
