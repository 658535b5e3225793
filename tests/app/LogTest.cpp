#include <gtest/gtest.h>

#include <string>

#include "platform/Log.h"

TEST(Log, PrefixesAndAddsNoLineBreak) {
    testing::internal::CaptureStderr();
    eDebug("abc");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: abc");
}

TEST(Log, CutsLongMessagesAt1023Characters) {
    std::string longText(3000, 'x');
    testing::internal::CaptureStderr();
    eDebug("%s\n", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: " + std::string(1023, 'x'));
    testing::internal::CaptureStderr();
    eTrace2("%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(1023, 'x'));
}

// Each level shows its own lines and those above it, nothing below.
TEST(Log, ShowsOnlyTheLinesUpToItsLevel) {
    using platform::LogLevel;
    const LogLevel before = platform::CurrentLogLevel();
    auto logged = [](LogLevel level) {
        platform::SetLogLevel(level);
        testing::internal::CaptureStderr();
        eWarning("w ");
        eDebug("i ");
        eTrace("d ");
        eTrace2("r");
        return testing::internal::GetCapturedStderr();
    };
    EXPECT_EQ(logged(LogLevel::kWarning), "TEKO: w ");
    EXPECT_EQ(logged(LogLevel::kInfo), "TEKO: w TEKO: i ");
    EXPECT_EQ(logged(LogLevel::kDebug), "TEKO: w TEKO: i TEKO: d r");
    platform::SetLogLevel(before);
    EXPECT_EQ(platform::kDefaultLogLevel, LogLevel::kInfo) << "a box keeps no decoder trace";
}
