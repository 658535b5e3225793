#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "SimBackend.h"
#include "SimClock.h"
#include "support/TestBuild.h"
#include "demux/PESFilter.h"
#include "demux/ScriptedDemux.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"
#include "support/TsBuilder.h"

using ts::Bytes;

namespace {

struct RecordingUser : PESFilterUser {
    std::vector<Bytes> packets;
    std::vector<int64_t> stamps;
    std::vector<int64_t> syncs;
    std::vector<int> results;  // what successive Receives return
    int sleepMs = 0;
    std::atomic<int> inReceive{0};
    std::atomic<int> finished{0};

    int Receive(const PESPacket& p) override {
        ++inReceive;
        packets.emplace_back(p.data, p.data + p.size);
        stamps.push_back(p.pts);
        if (sleepMs) platform::Sleep(unsigned(sleepMs) * 1000);
        ++finished;
        size_t i = packets.size() - 1;
        return i < results.size() ? results[i] : 0;
    }
    int Sync(int64_t& stc) override {
        syncs.push_back(stc);
        return 0;
    }
};

std::vector<Bytes> Chunks(const Bytes& bytes, size_t size = 188) {
    std::vector<Bytes> out;
    for (size_t pos = 0; pos < bytes.size(); pos += size)
        out.emplace_back(bytes.begin() + long(pos), bytes.begin() + long(std::min(bytes.size(), pos + size)));
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Payload(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

class PESFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A second into the clock: the small PTS of the tests' packets are
        // then due already.
        demux.stc = 90000;
        backend.Attach(paths::kDemux, &demux);
        backend.SetMonotonic([this] { return demux.SteadyMicros(); });
        platform::Install(&backend);
    }
    void TearDown() override {
        filter.Stop();
        platform::Install(nullptr);
    }
    void StartFilter(int recDelay = 0) {
        filter.Start(0x123, user, recDelay, false);
        ASSERT_TRUE(filter.Running());
        ASSERT_TRUE(demux.WaitReads(1));
    }
    // The clock moves to `stc` and one byte arrives, so the reader runs a pass.
    bool Tick(int64_t stc) {
        demux.stc = stc;
        return demux.Feed({0x00});
    }
    void FeedAll(const Bytes& bytes) {
        for (const Bytes& c : Chunks(bytes)) ASSERT_TRUE(demux.Feed(c));
    }

    TempRoot root;
    SimClock clock;
    SimBackend backend{root.Path(), clock};
    ScriptedDemux demux{clock};
    RecordingUser user;
    PESFilter filter;
};

TEST_F(PESFilterTest, StartProgramsATapPesFilterAndStopClosesIt) {
    testing::internal::CaptureStderr();
    StartFilter();
    filter.Stop();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(demux.params.pid, 0x123);
    EXPECT_EQ(demux.params.output, DMX_OUT_TAP);
    EXPECT_EQ(demux.params.pes_type, DMX_PES_OTHER);
    EXPECT_EQ(demux.params.flags, unsigned(DMX_IMMEDIATE_START));
    EXPECT_EQ(demux.stops, 1);
    EXPECT_EQ(demux.open, 0);
    EXPECT_NE(log.find("TEKO: Filter starting: 0x123\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: PESFilter thread started...\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: Stoping PESFilter thread.\nTEKO: Clean up PES queue.\n"), std::string::npos);
}

TEST_F(PESFilterTest, CutsPacketsOutOfTheByteStream) {
    StartFilter();
    Bytes big = ts::Pes(0xBD, Payload(1000, 1), 12345);
    Bytes tiny = {0x00, 0x00, 0x01, 0xBD, 0x00, 0x00};  // PES_packet_length 0
    Bytes a = ts::Pes(0xBD, Payload(20, 2));
    Bytes b = ts::Pes(0xBD, Payload(30, 3));
    // Junk and zeros before the first start code, an audio and a padding
    // PES (never assembled), then a packet over six reads.
    FeedAll(Cat({{0x47, 0x00, 0x00, 0x00}, ts::Pes(0xC0, Payload(50, 9)), ts::Pes(0xBE, Bytes(40, 0xFF)), big}));
    // A start code split 00 00 | 01 BD across two reads.
    Bytes split = Cat({{0x12, 0x00, 0x00}, tiny});
    ASSERT_TRUE(demux.Feed(Bytes(split.begin(), split.begin() + 3)));
    ASSERT_TRUE(demux.Feed(Bytes(split.begin() + 3, split.end())));
    // Two packets in one read go out on two successive passes.
    ASSERT_TRUE(demux.Feed(Cat({a, b})));
    EXPECT_EQ(user.packets.size(), 3u);
    ASSERT_TRUE(demux.Feed({0x00}));
    ASSERT_EQ(user.packets.size(), 4u);
    EXPECT_EQ(user.packets[0], big);
    EXPECT_EQ(user.packets[0].size(), 1000u + 8u + 6u);
    EXPECT_EQ(user.packets[1], tiny);
    EXPECT_EQ(user.packets[2], a);
    EXPECT_EQ(user.packets[3], b);
}

TEST_F(PESFilterTest, LargestDeclaredLengthIsAssembledWhole) {
    StartFilter();
    Bytes payload = Payload(65535 - 3, 5);
    Bytes largest = ts::Pes(0xBD, payload);  // 3 header bytes + payload = 65535
    ASSERT_EQ(largest.size(), 65541u);
    FeedAll(Cat({largest, ts::Pes(0xBD, Payload(10, 6))}));
    ASSERT_TRUE(demux.Feed({0x00}));
    ASSERT_EQ(user.packets.size(), 2u);
    EXPECT_EQ(user.packets[0], largest);
}

TEST_F(PESFilterTest, ReleaseRuleWithoutDelayAndWithDelay) {
    demux.stc = 1000000;
    testing::internal::CaptureStderr();
    StartFilter(3);
    // Without PTS: stamped STC + 3 s and held; a PTS packet behind it waits.
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1))));
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 2), 5000)));
    ASSERT_TRUE(Tick(1269999));
    EXPECT_TRUE(user.packets.empty());
    ASSERT_TRUE(Tick(1270000));
    ASSERT_EQ(user.stamps.size(), 1u);
    EXPECT_EQ(user.stamps[0], 1270000);
    ASSERT_TRUE(demux.Feed({0x00}));
    ASSERT_EQ(user.stamps.size(), 2u);
    EXPECT_EQ(user.stamps[1], 0);  // a packet with a PTS is stamped 0
    std::string log = testing::internal::GetCapturedStderr();
    // One delayed packet: one "Added RecDelay!" and its two time dumps.
    size_t first = log.find("TEKO: TEKO: Added RecDelay!\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("Added RecDelay!", first + 12 + 1), std::string::npos);
    EXPECT_NE(log.find("TEKO: PTS     : 00000000001360f0 0:00:00:14:10000\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: PTS     : f0 60 13 0 0 0 0 0 \n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: STC     : 00000000000f4240 0:00:00:11:10000\n"), std::string::npos);
}

// A packet is presented when the clock reaches its PTS, without data
// having to arrive then; a PTS that does not follow the clock (over 10 s
// from it) is presented on arrival, logged once for the stream.
TEST_F(PESFilterTest, PacketsWithAPtsWaitForTheirTimeUnlessThePtsIsOffTheClock) {
    StartFilter();
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1), 90000 + 45000)));
    demux.stc = 90000 + 44999;
    ASSERT_TRUE(demux.WaitReads(demux.reads + 2));  // passes woken by the clock alone
    EXPECT_TRUE(user.packets.empty());
    demux.stc = 90000 + 45000;
    ASSERT_TRUE(demux.WaitReads(demux.reads + 1));  // the pass after the wake, in its read
    ASSERT_EQ(user.stamps.size(), 1u);
    EXPECT_EQ(user.stamps[0], 90000 + 45000);

    testing::internal::CaptureStderr();
    for (int64_t off : {int64_t(90000) * 11, -int64_t(90000) * 11}) {
        ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 2), (135000 + off) & ((int64_t(1) << 33) - 1))));
        ASSERT_TRUE(demux.Feed({0x00}));
    }
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(user.stamps.size(), 3u);
    EXPECT_EQ(user.stamps[1], 0);  // on arrival
    EXPECT_EQ(user.stamps[2], 0);
    EXPECT_EQ(log.find("PTS"), log.rfind("PTS")) << "logged more than once:\n" << log;
}

TEST_F(PESFilterTest, SyncFallsDueOnceAndAZeroResultCancelsIt) {
    demux.stc = 900000;
    user.results = {5000, 5000, 0};
    StartFilter();
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1), 1)));
    EXPECT_EQ(filter.SyncAt(), 1350000);
    ASSERT_TRUE(Tick(1349999));
    EXPECT_TRUE(user.syncs.empty());
    demux.stc = 1350010;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(demux.Feed({0x00}));
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(user.syncs.size(), 1u);
    EXPECT_EQ(user.syncs[0], 1350010);
    EXPECT_NE(log.find("TEKO: SYNC@: "), std::string::npos);
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_EQ(user.syncs.size(), 1u);  // once only

    // A request, then a Receive returning 0 before it is due: cancelled.
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 2), 1)));
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 3), 1)));
    EXPECT_EQ(filter.SyncAt(), 0);
    ASSERT_TRUE(Tick(9000000));
    EXPECT_EQ(user.syncs.size(), 1u);
}

TEST_F(PESFilterTest, UnreadableClockHoldsStampedPacketsAndTheQueueStaysBounded) {
    demux.stcOk = false;
    user.results = {5000};
    StartFilter(3);
    // Stamped 0 (PTS present): released although the clock fails.
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1), 1)));
    ASSERT_EQ(user.packets.size(), 1u);
    // Without PTS: stamped 0 + 3 s, held while the clock cannot be read.
    testing::internal::CaptureStderr();
    int target = demux.reads + int(PESFilter::kMaxQueuedPackets) + 5;
    for (size_t i = 0; i < PESFilter::kMaxQueuedPackets + 5; ++i) demux.Push(ts::Pes(0xBD, Payload(4, 2)));
    ASSERT_TRUE(demux.WaitReads(target, 20000));
    ASSERT_TRUE(demux.Feed({0x00}));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(user.packets.size(), 1u);
    EXPECT_TRUE(user.syncs.empty());
    EXPECT_EQ(filter.QueuedPackets(), PESFilter::kMaxQueuedPackets);
    EXPECT_EQ(filter.DroppedPackets(), 5u);
    EXPECT_NE(log.find("TEKO: PES queue full (1024 packets, "), std::string::npos);
    // Stop deletes the held packets without handing them to the user.
    filter.Stop();
    EXPECT_EQ(filter.QueuedPackets(), 0u);
    EXPECT_EQ(user.packets.size(), 1u);
}

TEST_F(PESFilterTest, StampsFallDueAcrossTheClockWrapAndAfterAJumpBack) {
    const int64_t period = int64_t(1) << 33;
    demux.stc = period - 90000;  // one second before the wrap
    StartFilter(2);
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1))));
    demux.stc = 45000;  // the clock wrapped: due at 90,000, half a second on
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_TRUE(user.packets.empty());
    ASSERT_TRUE(Tick(90000));
    EXPECT_EQ(user.packets.size(), 1u);
    // A clock that jumps back by more than the delay releases at once
    // instead of holding the queue until it catches up.
    demux.stc = 50000000;
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 2))));
    ASSERT_TRUE(Tick(1000));
    EXPECT_EQ(user.packets.size(), 2u);
}

// A jump of the broadcast's clock (demux.jump) that the steady clock does
// not make: the pending clear keeps its remaining time, an hour forward and
// an hour back, and fires once with the clock of the new time line.
TEST_F(PESFilterTest, ClockJumpsMoveThePendingSyncWithThem) {
    const int64_t hour = int64_t(3600) * 90000;
    demux.stc = 900000;
    user.results = {5000, 5000};
    StartFilter();
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1), 1)));
    EXPECT_EQ(filter.SyncAt(), 1350000);
    testing::internal::CaptureStderr();
    demux.stc = 990000;
    demux.jump = hour;
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_TRUE(user.syncs.empty());
    EXPECT_EQ(filter.SyncAt(), 1350000 + hour);
    ASSERT_TRUE(Tick(1349999));
    EXPECT_TRUE(user.syncs.empty());
    ASSERT_TRUE(Tick(1350000));
    ASSERT_EQ(user.syncs.size(), 1u);
    EXPECT_EQ(user.syncs[0], 1350000 + hour);

    // Back by the hour, one second into the next subtitle's five.
    demux.stc = 2000000;
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 2), 1)));
    EXPECT_EQ(filter.SyncAt(), 2450000 + hour);
    demux.stc = 2090000;
    demux.jump = 0;
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_EQ(user.syncs.size(), 1u);
    EXPECT_EQ(filter.SyncAt(), 2450000);
    ASSERT_TRUE(Tick(2449999));
    EXPECT_EQ(user.syncs.size(), 1u);
    ASSERT_TRUE(Tick(2450000));
    ASSERT_EQ(user.syncs.size(), 2u);
    EXPECT_EQ(user.syncs[1], 2450000);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TEKO: System time clock jumped +3600000 ms: 0 held packets and 1 pending call-back moved "
                       "with it\n"),
              std::string::npos);
    EXPECT_NE(log.find("TEKO: System time clock jumped -3600000 ms: "), std::string::npos);
    EXPECT_EQ(filter.ClockJumps(), 2u);
}

// Packets held by the playback delay keep their remaining wait across a
// jump either way; a drift of under a second is no jump.
TEST_F(PESFilterTest, ClockJumpsMoveHeldPacketsWithThem) {
    const int64_t hour = int64_t(3600) * 90000;
    demux.stc = 900000;
    StartFilter(2);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1))));  // due at 1,080,000
    demux.stc = 990000;
    demux.jump = hour;
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_TRUE(user.packets.empty());
    ASSERT_TRUE(Tick(1079999));
    EXPECT_TRUE(user.packets.empty());
    ASSERT_TRUE(Tick(1080000));
    ASSERT_EQ(user.packets.size(), 1u);
    EXPECT_EQ(user.stamps[0], 1080000 + hour);

    demux.stc = 2000000;
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 2))));  // due at 2,180,000
    demux.stc = 2090000;
    demux.jump = 0;
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_EQ(user.packets.size(), 1u);
    ASSERT_TRUE(Tick(2179999));
    EXPECT_EQ(user.packets.size(), 1u);
    ASSERT_TRUE(Tick(2180000));
    EXPECT_EQ(user.packets.size(), 2u);

    // Nine tenths of a second of disagreement: not a jump.
    demux.stc = 3000000;
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 3))));  // due at 3,180,000
    demux.jump = 81000;
    ASSERT_TRUE(demux.Feed({0x00}));
    EXPECT_EQ(user.packets.size(), 2u);
    ASSERT_TRUE(Tick(3099000));
    EXPECT_EQ(user.packets.size(), 3u);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TEKO: System time clock jumped +3600000 ms: 1 held packets and 0 pending call-back"),
              std::string::npos);
    EXPECT_EQ(filter.ClockJumps(), 2u);
}

// An overflow of the demultiplexer's buffer loses bytes: the packet being
// assembled is dropped, not delivered with a hole, and the next one comes.
TEST_F(PESFilterTest, OverflowDropsThePacketItCutAndReadsOnAtOnce) {
    StartFilter();
    const Bytes cut = ts::Pes(0xBD, Payload(300, 1), 1);
    const Bytes next = ts::Pes(0xBD, Payload(40, 2), 1);
    ASSERT_TRUE(demux.Feed(Bytes(cut.begin(), cut.begin() + 100)));
    testing::internal::CaptureStderr();
    demux.readError = EOVERFLOW;
    demux.Push({0x00});  // wakes the blocked read; then the storm
    ASSERT_TRUE(demux.WaitReads(demux.reads + 3));
    demux.readZero = true;  // never a moment of neither (see below)
    demux.readError = 0;
    ASSERT_TRUE(demux.WaitReads(demux.reads + 1));
    demux.readZero = false;
    ASSERT_TRUE(demux.WaitReads(demux.reads + 1));
    FeedAll(Bytes(cut.begin() + 100, cut.end()));
    FeedAll(next);
    ASSERT_TRUE(demux.Feed({0x00}));
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(user.packets.size(), 1u);
    EXPECT_EQ(user.packets[0], next);
    EXPECT_NE(log.find("TEKO: PES filter buffer overflow: data lost, waiting for the next packet\n"),
              std::string::npos);
}

TEST_F(PESFilterTest, StopNeverEndsTheThreadInsideReceive) {
    user.sleepMs = 200;
    StartFilter();
    demux.Push(ts::Pes(0xBD, Payload(10, 1), 1));
    demux.Push({0x00});
    // The reader sleeps inside Receive with cancellation held off: the
    // stop comes in the middle of it.
    const std::function<bool()> inside = [this] { return user.inReceive.load() != 0; };
    ASSERT_TRUE(clock.Wait(inside, clock.NowMicros() + 5000000, "Receive"));
    EXPECT_EQ(user.finished.load(), 0);
    filter.Stop();
    EXPECT_EQ(user.finished.load(), 1);
    EXPECT_FALSE(filter.Running());
}

TEST_F(PESFilterTest, FailuresAreLoggedAndLeaveNoThread) {
    testing::internal::CaptureStderr();
    filter.Stop();  // never started
    demux.failPesFilter = true;
    filter.Start(0x20, user, 0, true);
    EXPECT_FALSE(filter.Running());
    EXPECT_EQ(demux.open, 0);
    platform::Install(&root.Backend());  // no demultiplexer at all
    filter.Start(0x20, user, 0, true);
    platform::Install(&backend);
    filter.Stop();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: Stoping PESFilter thread.\nTEKO: Clean up PES queue.\n"
              "TEKO: Filter starting: 0x20\nTEKO: Failed ioctl(DMX_SET_PES_FILTER)\n"
              "TEKO: Filter starting: 0x20\nTEKO: Failed open(DMX)\n"
              "TEKO: Stoping PESFilter thread.\nTEKO: Clean up PES queue.\n");
}

TEST_F(PESFilterTest, ReadErrorsAndEmptyReadsBackOffAndCarryOn) {
    StartFilter();
    testing::internal::CaptureStderr();
    // The reader blocks in a read already: a byte wakes it into the next.
    demux.readError = EOVERFLOW;
    demux.Push({0x00});
    ASSERT_TRUE(demux.WaitReads(demux.reads + 2));
    demux.readError = EINTR;  // silent
    ASSERT_TRUE(demux.WaitReads(demux.reads + 2));
    // Empty reads take over before the errors stop, so that the reader
    // never finds neither and blocks in a read nobody will answer.
    demux.readZero = true;
    demux.readError = 0;
    ASSERT_TRUE(demux.WaitReads(demux.reads + 2));
    demux.readZero = false;
    ASSERT_TRUE(demux.WaitReads(demux.reads + 1));
    ASSERT_TRUE(demux.Feed(ts::Pes(0xBD, Payload(10, 1), 1)));
    ASSERT_TRUE(demux.Feed({0x00}));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TEKO: Warning, ERROR from PESFilter[read(demuxFD, packet, 188);]: -1\n"), std::string::npos);
    EXPECT_NE(log.find("TEKO: Nothing to read...[read(demuxFD, packet, 188);]: 0\n"), std::string::npos);
    EXPECT_EQ(user.packets.size(), 1u);
}

TEST(PESTiming, ExtractPTSReadsAll33BitsAndRejectsShortPackets) {
    int64_t pts = -1;
    for (int64_t value : {int64_t(0x1FFFFFFFF), int64_t(0x123456789), int64_t(1), int64_t(0x100000000)}) {
        Bytes p = ts::Pes(0xBD, {1, 2, 3}, value);
        EXPECT_EQ(PESFilter::extractPTS(pts, p.data(), int(p.size())), 0);
        EXPECT_EQ(pts, value);
    }
    Bytes noPts = ts::Pes(0xBD, {1, 2, 3});
    EXPECT_EQ(PESFilter::extractPTS(pts, noPts.data(), int(noPts.size())), -1);
    EXPECT_EQ(pts, 0);
    // Flags say PTS, but the packet ends before it (or before the flags).
    Bytes cut = ts::Pes(0xBD, {}, 0x1234, 4);
    cut.resize(12);
    EXPECT_EQ(PESFilter::extractPTS(pts, cut.data(), int(cut.size())), -1);
    EXPECT_EQ(PESFilter::extractPTS(pts, cut.data(), 7), -1);
}

TEST(PESTiming, DebugTimePrintsDaysToTicksAndTheBytes) {
    int64_t value = int64_t(90000) * 3661 + 45;
    testing::internal::CaptureStderr();
    PESFilter::debugTime("SYNC@", value);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "TEKO: SYNC@: 0000000013a39e7d 0:01:01:01:00045\n"
              "TEKO: SYNC@: 7d 9e a3 13 0 0 0 0 \n");
}

}  // namespace
