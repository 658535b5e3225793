#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "SectionAssembler.h"
#include "SimClock.h"
#include "TsInfo.h"
#include "TsReplay.h"
#include "support/TempRoot.h"
#include "support/TsBuilder.h"

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

namespace {

// Two services with subtitles, their tables repeated, and PES in between:
// 12 packets.
ts::Bytes TwoServiceMux() {
    ts::TsBuilder b;
    for (int round = 0; round < 3; ++round) {
        b.AddSection(0, ts::Pat(1, {{10, 0x100}, {20, 0x200}}));
        b.AddSection(0x100, ts::Pmt(10, 0x101, {{0x06, 0x102, ts::SubtitlingDescriptor({{"fre", 0x10, 1, 1}})}}));
        b.AddSection(0x200, ts::Pmt(20, 0x201, {{0x06, 0x202, ts::TeletextDescriptor({{"swe", 2, 1, 0x88}})}}));
        b.AddPes(0x102, ts::DvbSubtitlePes({0x0F, 0x10, 0, 1, 0, 0}, 90000 * round));
    }
    return b.Data();
}

struct Scanned {
    size_t services = 0, packets = 0, skipped = 0;
    bool ok = false;
};

Scanned ScanInfo(const ts::Bytes& bytes) {
    TempRoot root;
    const std::string path = root.At("/tmp/capture.ts");
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    TsInfo info;
    std::string error;
    Scanned s;
    s.ok = info.Load(path, error);
    s.packets = info.PacketCount();
    s.skipped = info.SkippedBytes();
    for (const TsService& service : info.Services()) s.services += service.HasSubtitles() ? 1 : 0;
    return s;
}

}  // namespace

// A recording with bytes lost, doubled or inserted: the service scan and the
// replay both resume at the next sync byte, find the same packets and count
// the same bytes skipped.
TEST(TsInfo, ResyncsAtTheNextSyncByteAsTheReplayDoes) {
    const ts::Bytes clean = TwoServiceMux();
    ASSERT_EQ(clean.size(), 12u * 188);
    struct Damage {
        const char* what;
        ts::Bytes bytes;
        size_t packets, skipped;
    };
    std::vector<Damage> cases;
    cases.push_back({"clean", clean, 12, 0});
    ts::Bytes lost = clean;  // 5 bytes of the 4th packet lost: it swallows the
    lost.erase(lost.begin() + 3 * 188 + 100, lost.begin() + 3 * 188 + 105);  // 5th's first 5 bytes
    cases.push_back({"lost", lost, 11, 183});
    ts::Bytes doubled = clean;  // 3 bytes of the 2nd packet's start doubled
    doubled.insert(doubled.begin() + 188, clean.begin() + 188, clean.begin() + 191);
    cases.push_back({"doubled", doubled, 12, 3});
    ts::Bytes junk = clean;  // 7 bytes of noise before the 7th packet
    junk.insert(junk.begin() + 6 * 188, {1, 2, 3, 4, 5, 6, 7});
    cases.push_back({"junk", junk, 12, 7});
    ts::Bytes tail = clean;  // a cut last packet
    tail.resize(tail.size() - 100);
    cases.push_back({"tail", tail, 11, 88});
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.what);
        const Scanned info = ScanInfo(d.bytes);
        EXPECT_TRUE(info.ok);
        EXPECT_EQ(info.services, 2u);
        EXPECT_EQ(info.packets, d.packets);
        EXPECT_EQ(info.skipped, d.skipped);
        SimClock clock;
        TsReplay replay(clock);
        ASSERT_TRUE(replay.LoadBytes(d.bytes));
        EXPECT_EQ(replay.PacketCount(), d.packets);
        EXPECT_EQ(replay.SkippedBytes(), d.skipped);
    }
}

TEST(TsInfo, NextTsPacketNeedsAWholePacketAfterTheSyncByte) {
    ts::Bytes bytes(400, 0x00);
    bytes[5] = 0x47;
    bytes[250] = 0x47;
    EXPECT_EQ(NextTsPacket(bytes.data(), bytes.size(), 0), 5u);
    EXPECT_EQ(NextTsPacket(bytes.data(), bytes.size(), 6), 400u);  // 250 + 188 > 400
    EXPECT_EQ(NextTsPacket(bytes.data(), 0, 0), 0u);
}
