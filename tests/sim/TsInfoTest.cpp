#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "TsInfo.h"

namespace {
std::string Sample(const std::string& name) { return std::string(TEKO_SAMPLES_DIR) + "/" + name; }
bool Exists(const std::string& path) { return std::ifstream(path).good(); }
}  // namespace

TEST(TsInfo, ListsServicesAndTheirSubtitleStreamsFromRealCaptures) {
    if (!Exists(Sample("tsduck-test-108.ts"))) GTEST_SKIP() << "samples not present";
    TsInfo rai;
    std::string error;
    ASSERT_TRUE(rai.Load(Sample("tsduck-test-108.ts"), error)) << error;
    EXPECT_EQ(rai.Services().size(), 8u);
    const TsService* rai2 = rai.Find(3402);
    ASSERT_NE(rai2, nullptr);
    EXPECT_TRUE(rai2->HasSubtitles());
    EXPECT_GT(rai2->TeletextPid(), 0);
    EXPECT_GT(rai2->VideoPid(), 0);

    TsInfo french;
    ASSERT_TRUE(french.Load(Sample("tsduck-test-012.ts"), error)) << error;
    ASSERT_NE(french.FirstWithSubtitles(), nullptr);
    EXPECT_EQ(french.FirstWithSubtitles()->serviceId, 4006);
    EXPECT_EQ(french.FirstWithSubtitles()->pmtPid, 0xA0);
}

TEST(TsInfo, RefusesWhatIsNotATransportStream) {
    TsInfo info;
    std::string error;
    EXPECT_FALSE(info.Load(std::string(TEKO_SOURCE_DIR) + "/CMakeLists.txt", error));
    EXPECT_NE(error.find("not an MPEG transport stream"), std::string::npos);
    EXPECT_FALSE(info.Load("/nonexistent/file.ts", error));
}
