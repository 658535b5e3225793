#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "demux/PESFilter.h"
#include "platform/Paths.h"
#include "support/DemuxEnv.h"
#include "support/TsBuilder.h"

using ts::Bytes;

namespace {

dmx_sct_filter_params SectionParams(int pid, uint8_t table, uint8_t mask, uint32_t flags, uint32_t timeout = 0) {
    dmx_sct_filter_params p;
    std::memset(&p, 0, sizeof p);
    p.pid = uint16_t(pid);
    p.filter.filter[0] = table;
    p.filter.mask[0] = mask;
    p.timeout = timeout;
    p.flags = flags;
    return p;
}

int OpenSection(const dmx_sct_filter_params& p, int flags = O_RDWR) {
    int fd = platform::Open(paths::kDemux, flags);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(platform::Ioctl(fd, DMX_SET_FILTER, const_cast<dmx_sct_filter_params*>(&p)), 0);
    return fd;
}

int OpenPes(int pid, int output = DMX_OUT_TAP, int flags = O_RDWR) {
    int fd = platform::Open(paths::kDemux, flags);
    dmx_pes_filter_params p;
    std::memset(&p, 0, sizeof p);
    p.pid = uint16_t(pid);
    p.output = dmx_output(output);
    p.pes_type = DMX_PES_OTHER;
    p.flags = DMX_IMMEDIATE_START;
    EXPECT_EQ(platform::Ioctl(fd, DMX_SET_PES_FILTER, &p), 0);
    return fd;
}

Bytes ReadOne(int fd, size_t count = 4096) {
    Bytes buf(count);
    ssize_t n = platform::Read(fd, buf.data(), buf.size());
    buf.resize(n > 0 ? size_t(n) : 0);
    return buf;
}

Bytes ReadAll(int fd, size_t total) {
    Bytes out;
    while (out.size() < total) {
        Bytes chunk = ReadOne(fd, 188);
        if (chunk.empty()) break;
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    return out;
}

Bytes Body(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed ^ (i * 13));
    return b;
}

int64_t Stc(int fd) {
    dmx_stc s;
    std::memset(&s, 0, sizeof s);
    if (platform::Ioctl(fd, DMX_GET_STC, &s) != 0) return -1;
    EXPECT_EQ(s.base, 1u);
    return int64_t(s.stc);
}

TEST(EmulatedDemux, SectionFiltersFollowTheKernelsRules) {
    DemuxEnv env;
    Bytes longPmt = ts::Section(0x02, 0x1234, Body(500, 1));  // spans 3 packets
    Bytes small1 = ts::Section(0x42, 0x0001, Body(10, 2));
    Bytes small2 = ts::Section(0x46, 0x0002, Body(12, 3));
    Bytes bad = ts::Section(0x02, 0x5555, Body(8, 4), 0, true);
    Bytes otherExt = ts::Section(0x02, 0x9999, Body(8, 5));
    ts::TsBuilder b;
    b.AddNull(300);  // 0.3 s before the sections: time to set the filters
    b.AddSections(0x100, {small1, longPmt, small2, bad, otherExt});
    ASSERT_TRUE(env.LoadBytes(b.Data()));

    int crc = OpenSection(SectionParams(0x100, 0x02, 0xFF, DMX_CHECK_CRC | DMX_IMMEDIATE_START));
    int noCrc = OpenSection(SectionParams(0x100, 0x02, 0xFF, DMX_IMMEDIATE_START));
    // Mode bits: table_id must differ from 0x02.
    auto notPmt = SectionParams(0x100, 0x02, 0xFF, DMX_IMMEDIATE_START);
    notPmt.filter.mode[0] = 0xFF;
    int other = OpenSection(notPmt);
    // Filter bytes 1 and 2 match the bytes after section_length.
    auto ext = SectionParams(0x100, 0x02, 0xFF, DMX_IMMEDIATE_START);
    ext.filter.filter[1] = 0x12;
    ext.filter.mask[1] = 0xFF;
    ext.filter.filter[2] = 0x34;
    ext.filter.mask[2] = 0xFF;
    int byExtension = OpenSection(ext);
    int oneShot = OpenSection(SectionParams(0x100, 0x00, 0x00, DMX_ONESHOT | DMX_IMMEDIATE_START), O_RDWR | O_NONBLOCK);

    EXPECT_EQ(ReadOne(crc), longPmt);
    EXPECT_EQ(ReadOne(crc), otherExt);  // the bad CRC is dropped
    EXPECT_EQ(ReadOne(noCrc), longPmt);
    EXPECT_EQ(ReadOne(noCrc), bad);
    EXPECT_EQ(ReadOne(other), small1);
    EXPECT_EQ(ReadOne(other), small2);
    EXPECT_EQ(ReadOne(byExtension), longPmt);
    // A short read returns the section's start, the next read its rest.
    Bytes head = ReadOne(noCrc, 10);
    Bytes rest = ReadOne(noCrc);
    head.insert(head.end(), rest.begin(), rest.end());
    EXPECT_EQ(head, otherExt);

    ASSERT_TRUE(env.replay.WaitFinished(5000));
    EXPECT_EQ(ReadOne(oneShot), small1);
    EXPECT_TRUE(ReadOne(oneShot).empty());
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(env.demux.CrcDrops(), 1u);
    EXPECT_EQ(env.demux.OpenCount(), 5);
    for (int fd : {crc, noCrc, other, byExtension, oneShot}) EXPECT_EQ(platform::Close(fd), 0);
    EXPECT_EQ(env.demux.OpenCount(), 0);
}

TEST(EmulatedDemux, TimeOutFailsTheReadWithETIMEDOUTOnTheSimClock) {
    DemuxEnv env;
    ts::TsBuilder b;
    b.AddNull(50);
    ASSERT_TRUE(env.LoadBytes(b.Data()));
    // The time-out runs from the filter's start, to the microsecond of
    // simulated time.
    env.clock.SleepMicros(1234);
    const int64_t start = env.clock.NowMicros();
    int fd = OpenSection(SectionParams(0x30, 0x02, 0xFF, 7, 5000));
    Bytes none = ReadOne(fd);
    int error = errno;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(error, ETIMEDOUT);
    EXPECT_EQ(env.clock.NowMicros() - start, 5000000);
    platform::Close(fd);
}

TEST(EmulatedDemux, DeliversOnlyWhatBeginsAfterTheFilterStarts) {
    DemuxEnv env;
    Bytes first = ts::Section(0x02, 1, Body(300, 1));  // two packets, 1 s apart
    Bytes second = ts::Section(0x02, 2, Body(20, 2));
    ts::TsBuilder lead, b;
    lead.AddSection(0x100, first);
    Bytes packets = lead.Data();
    Bytes pes = ts::Pes(0xBD, Body(400, 3), 90000);
    ts::TsBuilder pesPackets;
    pesPackets.AddPes(0x200, pes);
    const Bytes& p = pesPackets.Data();
    b.AddRaw(Bytes(packets.begin(), packets.begin() + 188));
    b.AddRaw(Bytes(p.begin(), p.begin() + 188));
    b.AddNull(1000);
    b.AddRaw(Bytes(packets.begin() + 188, packets.end()));
    b.AddSection(0x100, second);
    for (size_t at = 188; at < p.size(); at += 188) b.AddRaw(Bytes(p.begin() + long(at), p.begin() + long(at + 188)));
    ASSERT_TRUE(env.LoadBytes(b.Data()));

    int kick = OpenSection(SectionParams(0x1FFE, 0, 0, DMX_IMMEDIATE_START));
    env.clock.SleepMicros(500000);
    int fd = OpenSection(SectionParams(0x100, 0x02, 0xFF, DMX_CHECK_CRC | DMX_IMMEDIATE_START));
    int tap = OpenPes(0x200);
    EXPECT_EQ(ReadOne(fd), second);
    // The TAP starts mid-PES: the rest of its payload, not its start.
    Bytes tail = ReadAll(tap, pes.size() - 184);
    EXPECT_EQ(tail, Bytes(pes.begin() + 184, pes.end()));
    for (int d : {kick, fd, tap}) platform::Close(d);
}

TEST(EmulatedDemux, PesTapDeliversThePayloadsInOrderWithoutAdaptationFields) {
    DemuxEnv env;
    std::vector<Bytes> pes = {ts::Pes(0xBD, Body(700, 1), 1000), ts::Pes(0xBE, Bytes(20, 0xFF)),
                              ts::Pes(0xBD, Body(3000, 2))};
    ts::TsBuilder b;
    Bytes expected;
    for (size_t i = 0; i < pes.size(); ++i) {
        b.AddPes(0x300, pes[i], int64_t(i) * 9000);  // a PCR in the first packet of each
        b.AddPes(0x301, ts::Pes(0xC0, Body(100, 9)));
        expected.insert(expected.end(), pes[i].begin(), pes[i].end());
    }
    ASSERT_TRUE(env.LoadBytes(b.Data()));
    int fd = OpenPes(0x300);
    EXPECT_EQ(ReadAll(fd, expected.size()), expected);
    int whole = OpenPes(0x301, DMX_OUT_TSDEMUX_TAP);
    env.replay.Restart();
    Bytes packet = ReadOne(whole, 188);
    ASSERT_EQ(packet.size(), 188u);
    EXPECT_EQ(packet[0], 0x47);
    EXPECT_EQ(((packet[1] & 0x1F) << 8) | packet[2], 0x301);
    platform::Close(fd);
    platform::Close(whole);
}

TEST(EmulatedDemux, SystemTimeClockFollowsThePcrOrElseThePidsOwnPts) {
    DemuxEnv env;
    ts::TsBuilder b;
    b.AddSection(0, ts::Pat(1, {{1, 0x1000}}));
    b.AddSection(0x1000, ts::Pmt(1, 0x101, {{0x06, 0x100, {}}}));
    b.AddSection(0, ts::Pat(1, {{1, 0x1000}}));  // 1 ms later: PMT PID known to the replay
    b.AddSection(0x1000, ts::Pmt(1, 0x101, {{0x06, 0x100, {}}}));
    for (int i = 0; i < 20; ++i) {
        b.AddPcr(0x101, 1000000 + i * 9000);  // 100 ms apart, 99 packets between
        b.AddPes(0x200, ts::Pes(0xBD, Body(10, 1), 5000000 + i * 9000));
        b.AddNull(98);
    }
    ASSERT_TRUE(env.LoadBytes(b.Data()));
    EXPECT_EQ(env.replay.GetPacing(), TsReplay::Pacing::kPcr);
    EXPECT_NEAR(double(env.replay.DurationMicros()), 2000000.0, 20000.0);
    int fd = OpenPes(0x100);
    int own = OpenPes(0x200);  // in no PMT: its own PTS time base
    env.clock.SleepMicros(654321);
    int64_t position = env.replay.PositionMicros();
    int64_t stc = Stc(fd);
    EXPECT_NEAR(double(stc), 1000000.0 + double(position) * 0.09, 9000.0);
    EXPECT_NEAR(double(Stc(own)), 5000000.0 + double(position) * 0.09, 9000.0);
    env.demux.SetStcAvailable(false);
    EXPECT_EQ(Stc(fd), -1);
    EXPECT_EQ(errno, EINVAL);
    platform::Close(fd);
    platform::Close(own);
}

TEST(EmulatedDemux, StopOverflowManyDescriptorsAndUnstartedReads) {
    DemuxEnv env;
    ts::TsBuilder b;
    for (int i = 0; i < 10; ++i) b.AddPes(0x100, ts::Pes(0xBD, Body(1000, uint8_t(i)), 1));
    ASSERT_TRUE(env.LoadBytes(b.Data()));
    int unstarted = platform::Open(paths::kDemux, O_RDWR);
    Bytes buf(188);
    EXPECT_EQ(platform::Read(unstarted, buf.data(), buf.size()), 0);  // no filter yet
    int fd = OpenPes(0x100, DMX_OUT_TAP, O_RDWR | O_NONBLOCK);
    EXPECT_EQ(platform::Ioctl(fd, DMX_SET_BUFFER_SIZE, reinterpret_cast<void*>(uintptr_t(2000))), 0);
    EXPECT_EQ(platform::Ioctl(fd, DMX_START, nullptr), 0);
    ASSERT_TRUE(env.replay.WaitFinished(5000));
    // Nobody read: the 2000-byte buffer overflowed and was flushed.
    EXPECT_EQ(platform::Read(fd, buf.data(), buf.size()), -1);
    EXPECT_EQ(errno, EOVERFLOW);
    EXPECT_GE(env.demux.Overflows(), 1u);
    EXPECT_EQ(platform::Ioctl(fd, DMX_STOP, nullptr), 0);
    EXPECT_EQ(platform::Read(fd, buf.data(), buf.size()), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);

    std::vector<int> fds;
    for (int i = 2; i < EmulatedDemux::kMaxFilters; ++i) fds.push_back(platform::Open(paths::kDemux, O_RDWR));
    EXPECT_EQ(platform::Open(paths::kDemux, O_RDWR), -1);
    EXPECT_EQ(errno, EMFILE);
    for (int d : fds) EXPECT_EQ(platform::Close(d), 0);
    platform::Close(fd);
    platform::Close(unstarted);
    EXPECT_EQ(platform::Close(fd), -1);
}

TEST(EmulatedDemux, ReplayPacesAtTheNominalRateLoopsAndRestarts) {
    DemuxEnv env;
    ts::TsBuilder b;
    b.AddSection(0x100, ts::Section(0x02, 1, Body(10, 1)));
    b.AddNull(499);
    ASSERT_TRUE(env.LoadBytes(b.Data()));
    EXPECT_EQ(env.replay.GetPacing(), TsReplay::Pacing::kNominal);
    EXPECT_EQ(env.replay.DurationMicros(), 500000);
    EXPECT_FALSE(env.replay.Started());
    int fd = OpenSection(SectionParams(0x100, 0x02, 0xFF, DMX_IMMEDIATE_START));
    EXPECT_EQ(ReadOne(fd).size(), 22u);
    ASSERT_TRUE(env.replay.WaitFinished(5000));
    EXPECT_EQ(env.replay.Delivered(), 500u);
    env.replay.SetLoop(true);
    env.replay.Restart();
    EXPECT_EQ(ReadOne(fd).size(), 22u);
    EXPECT_EQ(ReadOne(fd).size(), 22u);  // the next pass of the loop
    EXPECT_GE(env.replay.Loops(), 1);
    EXPECT_FALSE(env.replay.Finished());
    platform::Close(fd);
}

struct Collector : PESFilterUser {
    std::mutex mutex;
    std::vector<Bytes> packets;
    int Receive(const PESPacket& p) override {
        std::lock_guard<std::mutex> lock(mutex);
        packets.emplace_back(p.data, p.data + p.size);
        return 0;
    }
    int Sync(int64_t&) override { return 0; }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return packets.size();
    }
};

TEST(EmulatedDemux, PesFilterReceivesEveryPacketWholeThroughTheEmulation) {
    DemuxEnv env;
    std::vector<Bytes> pes;
    ts::TsBuilder b;
    for (int i = 0; i < 6; ++i) {
        pes.push_back(ts::Pes(0xBD, Body(size_t(100 + 400 * i), uint8_t(i)), 90000 * i));
        b.AddPes(0x150, pes.back(), 90000 * i - 4500).AddPes(0x151, ts::Pes(0xBD, Body(50, 7), 1));
        b.AddNull(20);
    }
    ASSERT_TRUE(env.LoadBytes(b.Data()));
    Collector user;
    testing::internal::CaptureStderr();
    {
        PESFilter filter;
        filter.Start(0x150, user, 0, true);
        ASSERT_TRUE(env.replay.WaitFinished(10000));
        // The last packet goes out at the pass after the read that completed it.
        EXPECT_TRUE(env.WaitUntil([&] { return user.Count() >= pes.size() - 1; }, 1000));
        filter.Stop();
    }
    testing::internal::GetCapturedStderr();
    ASSERT_GE(user.packets.size(), pes.size() - 1);
    for (size_t i = 0; i < user.packets.size(); ++i) EXPECT_EQ(user.packets[i], pes[i]);
    EXPECT_EQ(env.demux.OpenCount(), 0);
}

}  // namespace
