// The loader run through the emulated demultiplexer on every real capture
// with a PAT: exactly the subtitle entries that the samples' README lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "demux/PMTLoader.h"
#include "support/DemuxEnv.h"

namespace {

struct Service {
    int serviceId;
    int pmtPid;
    std::vector<std::string> txt;  // "pid lang type page"
    std::vector<std::string> dvb;  // "pid lang type comp anc"
};

struct Capture {
    const char* file;
    std::vector<Service> services;
};

std::string Path(const char* file) { return std::string(TEKO_SAMPLES_DIR) + "/" + file; }

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string Hex(int v) {
    char buf[16];
    snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::vector<std::string> TxtOf(const PMTLoader& l) {
    std::vector<std::string> out;
    for (const TXTDescriptor* d : l.TxtList())
        out.push_back(Hex(d->pid) + " " + d->language + " " + std::to_string(d->type) + " " + Hex(d->page));
    return out;
}

std::vector<std::string> DvbOf(const PMTLoader& l) {
    std::vector<std::string> out;
    for (const DVBDescriptor* d : l.DvbList())
        out.push_back(Hex(d->pid) + " " + d->language + " " + Hex(d->type) + " " + std::to_string(d->compositionPageId) +
                      " " + std::to_string(d->ancillaryPageId));
    return out;
}

const std::vector<Capture>& Captures() {
    static const std::vector<Capture> captures = {
        {"tsduck-test-012.ts", {{0x0FA6, 0x00A0, {"42c fre 5 888", "42c fre 2 889"}, {}}}},
        {"tsduck-test-108.ts",
         {{3401, 0x0102, {"240 ita 2 777", "240 eng 2 778"}, {}},
          {3402, 0x0101, {"241 ita 2 777", "241 eng 2 778"}, {}},
          {3403, 0x0100, {}, {}},  // only a type-1 entry: no record
          {3404, 0x0103, {}, {}},
          {3405, 0x0104, {}, {}},
          {3406, 0x0105, {}, {}},
          {3410, 0x012C, {}, {}},
          {3411, 0x0118, {"257 ita 2 777", "257 eng 2 778"}, {}}}},
        {"tsduck-test-018.ts", {{1, 0x0100, {"653 ita 2 776"}, {}}, {2, 0x0101, {"653 ita 2 777"}, {}}}},
        {"viewts-video_dvbSub.ts", {{0x0112, 0x00D2, {}, {"f0 fre 20 1 1"}}}},
        {"tsduck-test-026.ts", {{0x0101, 0x006E, {}, {"8c fre 24 1 1", "8e fre 14 1 1"}}}},
        {"subtitleedit-sample_TS_dvbsub_at_video_start.ts", {{1, 0x1000, {}, {"101 und 10 1 1"}}}},
        {"ccextractor-dvb_string_coding_sample.ts", {{1, 0x0100, {}, {"101 eng 10 1 1"}}}},
    };
    return captures;
}

TEST(SamplesLoader, ListsExactlyTheSubtitleEntriesOfEveryCaptureWithAPat) {
    if (!Exists(Path("tsduck-test-012.ts"))) GTEST_SKIP() << "samples not found in " << TEKO_SAMPLES_DIR;
    for (const Capture& capture : Captures()) {
        SCOPED_TRACE(capture.file);
        DemuxEnv env;
        ASSERT_TRUE(env.LoadFile(Path(capture.file)));
        env.replay.SetLoop(true);  // tables repeat on air; a capture may hold one
        for (const Service& s : capture.services) {
            SCOPED_TRACE(s.serviceId);
            PMTLoader loader;
            testing::internal::CaptureStderr();
            int count = loader.GetAllPIDs(s.serviceId, s.pmtPid);
            std::string log = testing::internal::GetCapturedStderr();
            EXPECT_EQ(log.find("Error"), std::string::npos) << log;
            EXPECT_EQ(TxtOf(loader), s.txt);
            EXPECT_EQ(DvbOf(loader), s.dvb);
            EXPECT_GE(count, int(s.dvb.empty() ? 0 : 1) + int(s.txt.empty() ? 0 : 1));
            if (s.serviceId == 3403) {
                EXPECT_EQ(count, 1);  // the descriptor counts, its entry does not
            }
        }
        EXPECT_EQ(env.demux.OpenCount(), 0);
    }
}

// Every PMT of the corrupted capture fails its CRC: the loader gives up on
// it after one section time-out and reports nothing found. Captures
// without PSI fail at the PAT's time-out.
TEST(SamplesLoader, FailsCleanlyWithinItsTimeOutsOnCorruptOrTableLessCaptures) {
    if (!Exists(Path("tsduck-test-143-fuzzed.ts"))) GTEST_SKIP() << "samples not found in " << TEKO_SAMPLES_DIR;
    {
        DemuxEnv env;
        ASSERT_TRUE(env.LoadFile(Path("tsduck-test-143-fuzzed.ts")));
        env.replay.SetLoop(true);
        PMTLoader loader;
        int64_t before = env.clock.NowMicros();
        testing::internal::CaptureStderr();
        int count = loader.GetAllPIDs(0x3C, 0x3C);
        std::string log = testing::internal::GetCapturedStderr();
        int64_t took = env.clock.NowMicros() - before;
        EXPECT_EQ(count, 0);
        EXPECT_NE(log.find("TEKO: Error read(PMT)\n"), std::string::npos);
        EXPECT_TRUE(loader.TxtList().empty());
        EXPECT_TRUE(loader.DvbList().empty());
        EXPECT_LE(took, 10500000);  // at most the PAT's and one PMT's time-out
        EXPECT_GT(env.demux.CrcDrops(), 0u);
        EXPECT_EQ(env.demux.OpenCount(), 0);
    }
    for (const char* file : {"subtitleedit-sample_TS_with_teletext.ts", "subtitleedit-sample_TS_with_graphics.ts"}) {
        DemuxEnv env;
        ASSERT_TRUE(env.LoadFile(Path(file)));
        PMTLoader loader;
        testing::internal::CaptureStderr();
        EXPECT_EQ(loader.GetAllPIDs(1, 0x100), -1) << file;
        EXPECT_NE(testing::internal::GetCapturedStderr().find("TEKO: Error read(PAT)\n"), std::string::npos);
    }
}

}  // namespace
