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
    eDebug2("%s", longText.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string(1023, 'x'));
}
