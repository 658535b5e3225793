#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ChannelList.h"
#include "support/TempRoot.h"

namespace {

struct SplitCase {
    const char* text;
    const char* delimiter;
    bool includeEmpty;
    int occurrences;
    std::vector<std::string> fields;
};

TEST(Split, FieldsBetweenNonOverlappingOccurrences) {
    const SplitCase cases[] = {
        {"a b", " ", true, 1, {"a", "b"}},
        {"a  b", " ", true, 2, {"a", "", "b"}},
        {"a  b", " ", false, 2, {"a", "b"}},
        {"ab", " ", true, 0, {}},
        {"a ", " ", true, 1, {"a", ""}},
        {"a ", " ", false, 1, {"a"}},
        {" ", " ", true, 1, {"", ""}},
        {" ", " ", false, 1, {}},
        {"", " ", true, 0, {}},
        {"a b", "", true, 0, {}},
        {"x--y----z", "--", true, 3, {"x", "y", "", "z"}},
        {"aaa", "aa", true, 1, {"", "a"}},  // occurrences do not overlap
    };
    for (const SplitCase& c : cases) {
        std::vector<std::string> out = {"kept"};
        EXPECT_EQ(split(c.text, c.delimiter, out, c.includeEmpty), c.occurrences) << c.text;
        std::vector<std::string> expected = {"kept"};
        expected.insert(expected.end(), c.fields.begin(), c.fields.end());
        EXPECT_EQ(out, expected) << "'" << c.text << "' at '" << c.delimiter << "'";
    }
}

class ChannelListTest : public testing::Test {
protected:
    // Looks the service and language up in a channel list of `contents`.
    int Check(const std::string& contents, int sid, const std::string& language) {
        root.Write("/etc/TEKO.channels", contents);
        pid = -5;
        page = -5;
        testing::internal::CaptureStderr();
        const int found = CheckExternalChannels(sid, language, pid, page);
        log = testing::internal::GetCapturedStderr();
        return found;
    }

    TempRoot root;
    int pid = -5;
    int page = -5;
    std::string log;
};

TEST_F(ChannelListTest, FindsTheFirstEntryForServiceAndLanguage) {
    const std::string list =
        "# comment\n; comment\n\n"
        "3e8 1fff 888 swe\n"
        "3e8 100 777 swe\n"
        "3e8 200 150 eng Service 1000 in English\n";
    EXPECT_EQ(Check(list, 1000, "swe"), 1);
    EXPECT_EQ(log, "TEKO: EXT::Checking for TXT Subtitles in external file...\n");
    EXPECT_EQ(pid, 0x1fff);
    EXPECT_EQ(page, 0x888);
    EXPECT_EQ(Check(list, 1000, "eng"), 1);
    EXPECT_EQ(page, 0x150);
    EXPECT_EQ(Check(list, 1000, "ger"), 0);
    EXPECT_EQ(Check(list, 1001, "swe"), 0);
    EXPECT_EQ(Check(list, 1000, "SWE"), 0);
    EXPECT_EQ(pid, -5);
    EXPECT_EQ(page, -5);
}

TEST_F(ChannelListTest, NumbersAreHexadecimalStreamReads) {
    for (const char* sid : {"3e8", "0x3e8", "3E8", "0X3E8", "+3e8"}) {
        EXPECT_EQ(Check(std::string(sid) + " 1fff 888 swe\n", 1000, "swe"), 1) << sid;
    }
    EXPECT_EQ(Check("3e8 zz 888x swe\n", 1000, "swe"), 1);
    EXPECT_EQ(pid, 0);      // no number
    EXPECT_EQ(page, 0x888);  // digits up to the first other character
    EXPECT_EQ(Check("zz 1 2 swe\n", 0, "swe"), 1);  // unreadable sid is 0
}

TEST_F(ChannelListTest, BlanksSeparateExactlyOneField) {
    // Two blanks: the second field is empty (0), the page field holds 1fff
    // and the language field 888.
    EXPECT_EQ(Check("3e8  1fff 888 swe\n", 1000, "swe"), 0);
    EXPECT_EQ(Check("3e8  1fff 888 swe\n", 1000, "888"), 1);
    EXPECT_EQ(pid, 0);
    EXPECT_EQ(page, 0x1fff);
    EXPECT_EQ(Check(" 3e8 1fff 888 swe\n", 1000, "swe"), 0);  // leading blank
    EXPECT_EQ(Check("3e8 1fff 888 swe\r\n", 1000, "swe"), 0);  // CR LF ends
    EXPECT_EQ(Check("3e8 1fff 888 swe \n", 1000, "swe"), 1);   // trailing blank
}

TEST_F(ChannelListTest, ShortLinesAndMissingFilesMatchNothing) {
    EXPECT_EQ(Check("3e8 1fff 888\n3e8\n0 0 0\n\n", 1000, "swe"), 0);
    EXPECT_EQ(Check("0 0 0\n", 0, ""), 0);  // three fields: no entry at all
    EXPECT_EQ(Check("0 0 0 \n", 0, ""), 1);  // four, the last empty
    root.Remove("/etc/TEKO.channels");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CheckExternalChannels(1000, "swe", pid, page), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: EXT::Checking for TXT Subtitles in external file...\n");
}

TEST_F(ChannelListTest, HugeAndBinaryFilesAreReadWithoutFault) {
    std::string list = std::string(4 << 20, ' ') + "\n" + "3e8 1 2 " + std::string(1 << 20, 'x') +
                       "\n" + "1 " + std::string(2 << 20, ' ') + "\n";
    for (int i = 0; i < 8192; ++i) list += static_cast<char>((i * 53 + 3) & 0xff);
    list += "\n3e8 1fff 888 swe\n";
    EXPECT_EQ(Check(list, 1000, "swe"), 1);
    EXPECT_EQ(pid, 0x1fff);
}

}  // namespace
