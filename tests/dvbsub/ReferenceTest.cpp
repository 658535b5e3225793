// The client end to end against FFmpeg's DVB subtitle decoder: each sample
// is replayed by the emulated demultiplexer, cut by the PES filter's reader
// thread and drawn by the framebuffer device into the emulated framebuffer.
// Right after each packet the screen is compared with FFmpeg's decode of
// the same packet (its segments, from the first sync byte), for every
// display set FFmpeg puts out:
//  - 32 bits per pixel: the same alpha at every pixel (so the same regions,
//    positions, and opaque and transparent pixels); colours may differ by
//    the conversion only (BT.709 here, BT.601 in FFmpeg);
//  - 8 bits per pixel: the same places drawn (palette indices as decoded).
// The streams that are not compared (display definitions of 1920 x 1080 and
// 320 x 240, character coding) must run without harm.
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "EmulatedDemux.h"
#include "EmulatedFrameBuffer.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "TsReplay.h"
#include "config/Settings.h"
#include "demux/PESFilter.h"
#include "display/FrameBufferDevice.h"
#include "dvbsub/DVBSubtitle.h"
#include "platform/Paths.h"
#include "support/DvbSubSamples.h"
#include "support/TempRoot.h"
#include "support/TsBuilder.h"

namespace {

using dvbsub::DvbSample;

const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// BT.709 against BT.601 on the colours of the samples stays well inside this.
constexpr int kColourTolerance = 48;

struct Result {
    int packets = 0;
    int displaySets = 0;      // FFmpeg outputs compared
    int matched = 0;
    int maxColourDiff = 0;
    std::string firstMismatch;
    int drawnSets = 0;        // display sets after which something showed
    // Display sets with a region whose CLUT was never received (a capture
    // that starts mid-stream): both decoders fall back on default colours,
    // which differ, so only what is visible and what is not is compared.
    int defaultColourSets = 0;
    int left = 720, top = 576, right = -1, bottom = -1;  // where ink ever was
};

// FFmpeg's decoder, fed packet by packet.
class Reference {
public:
    Reference() {
        av_log_set_level(AV_LOG_QUIET);
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
        if (!codec) return;
        ctx_ = avcodec_alloc_context3(codec);
        if (ctx_ && avcodec_open2(ctx_, codec, nullptr) < 0) avcodec_free_context(&ctx_);
    }
    ~Reference() { avcodec_free_context(&ctx_); }
    bool Ok() const { return ctx_ != nullptr; }
    // The screen FFmpeg's output shows (0xAARRGGBB, clipped at 720 x 576),
    // or false when this packet puts nothing out.
    bool Decode(const unsigned char* pes, int size, std::vector<uint32_t>& screen) {
        const int start = size > 9 ? 9 + pes[8] + 2 : size;
        if (start >= size) return false;
        std::vector<uint8_t> data(pes + start, pes + size);
        data.resize(data.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        AVPacket* packet = av_packet_alloc();
        packet->data = data.data();
        packet->size = size - start;
        AVSubtitle sub;
        int got = 0;
        avcodec_decode_subtitle2(ctx_, &sub, &got, packet);
        av_packet_free(&packet);
        if (!got) return false;
        screen.assign(size_t(720) * 576, 0);
        for (unsigned k = 0; k < sub.num_rects; ++k) {
            const AVSubtitleRect* r = sub.rects[k];
            if (r->type != SUBTITLE_BITMAP) continue;
            const uint32_t* palette = reinterpret_cast<const uint32_t*>(r->data[1]);
            for (int j = 0; j < r->h; ++j)
                for (int i = 0; i < r->w; ++i) {
                    const int x = r->x + i, y = r->y + j;
                    if (x < 0 || y < 0 || x >= 720 || y >= 576) continue;
                    screen[size_t(y) * 720 + x] = palette[r->data[0][j * r->linesize[0] + i]];
                }
        }
        avsubtitle_free(&sub);
        return true;
    }

private:
    AVCodecContext* ctx_ = nullptr;
};

// The client as the PES filter's user, comparing after every packet.
class ComparingClient : public DVBSubtitle {
public:
    ComparingClient(EmulatedFrameBuffer& fb, size_t limit, bool compare) : fb_(fb), limit_(limit), compare_(compare) {}
    int Receive(const PESPacket& packet) override {
        const int ms = DVBSubtitle::Receive(packet);
        if (size_t(received_) < limit_) {
            Inspect(packet);
            ++received_;
        }
        return ms;
    }
    int Received() const { return received_; }
    Result result;

private:
    uint32_t Ours(int x, int y) const {
        return fb_.BitsPerPixel() == 32 ? fb_.Word(x, y) : fb_.Index(x, y);
    }
    void Inspect(const PESPacket& packet) {
        ++result.packets;
        bool ink = false;
        for (int y = 0; y < 576; ++y)
            for (int x = 0; x < 720; ++x)
                if (fb_.BitsPerPixel() == 32 ? (Ours(x, y) >> 24) != 0 : Ours(x, y) != 0) {
                    ink = true;
                    result.left = std::min(result.left, x), result.right = std::max(result.right, x);
                    result.top = std::min(result.top, y), result.bottom = std::max(result.bottom, y);
                }
        std::vector<uint32_t> ref;
        if (!compare_ || !reference_.Decode(packet.data, packet.size, ref)) return;
        result.drawnSets += ink;
        ++result.displaySets;
        const bool defaults = UsesDefaultColours();
        result.defaultColourSets += defaults;
        std::string mismatch;
        for (int y = 0; y < 576 && mismatch.empty(); ++y)
            for (int x = 0; x < 720; ++x) {
                const uint32_t theirs = ref[size_t(y) * 720 + x], ours = Ours(x, y);
                if (fb_.BitsPerPixel() != 32) {
                    // A palette screen: drawn exactly where FFmpeg shows something,
                    // and only inside its regions' pixels.
                    if ((theirs >> 24) != 0 && ours == 0) mismatch = "missing";
                    if ((theirs >> 24) == 0 && ours != 0 && ours != 0xF0 && !(ours < 16)) mismatch = "extra";
                } else if (defaults) {
                    if (((theirs >> 24) != 0) != ((ours >> 24) != 0)) mismatch = "visibility";
                } else if ((theirs >> 24) != (ours >> 24)) {
                    mismatch = "alpha " + std::to_string(ours >> 24) + " != " + std::to_string(theirs >> 24);
                } else if (ours >> 24) {
                    for (int shift = 0; shift < 24; shift += 8) {
                        const int d = std::abs(int((ours >> shift) & 0xFF) - int((theirs >> shift) & 0xFF));
                        result.maxColourDiff = std::max(result.maxColourDiff, d);
                        if (d > kColourTolerance) mismatch = "colour";
                    }
                }
                if (!mismatch.empty()) {
                    if (result.firstMismatch.empty())
                        result.firstMismatch = "packet " + std::to_string(result.packets - 1) + " at " +
                                               std::to_string(x) + "," + std::to_string(y) + ": " + mismatch;
                    break;
                }
            }
        result.matched += mismatch.empty();
    }

    bool UsesDefaultColours() {
        for (const subtitle_page* page = decoder.pages; page; page = page->next)
            for (const subtitle_region_ref* ref = page->regionRefs; ref; ref = ref->next)
                for (const subtitle_region* region = page->regions; region; region = region->next) {
                    if (region->regionId != ref->regionId) continue;
                    const subtitle_clut* clut = page->cluts;
                    while (clut && clut->clutId != region->clutId) clut = clut->next;
                    if (!clut) return true;
                }
        return false;
    }

    EmulatedFrameBuffer& fb_;
    size_t limit_;
    bool compare_;
    std::atomic<int> received_{0};
    Reference reference_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The capture as a box would receive it: as recorded when it has PSI,
// else its PES wrapped with PAT, PMT and PCR on the same PID.
std::vector<uint8_t> StreamOf(const DvbSample& sample, int& pid) {
    const std::vector<uint8_t> bytes = dvbsub::ReadBytes(dvbsub::DvbSamplePath(sample));
    pid = sample.pid < 0 ? 0x100 : sample.pid;
    if (sample.hasPsi) return bytes;
    ts::WrapOptions options;
    options.pid = pid;
    options.pcrPid = pid + 1;
    return ts::WrapPes(sample.pid < 0 ? bytes : dvbsub::PayloadStream(bytes, pid), options);
}

struct ReplayRun {
    Result result;
    int expected = 0;
    int inkAfterStop = 0;
    bool tailIntact = false;
    std::string log;
};

ReplayRun Replay(const DvbSample& sample, int bpp, bool compare) {
    ReplayRun run;
    int pid = 0;
    const std::vector<uint8_t> ts = StreamOf(sample, pid);
    run.expected = int(dvbsub::DvbSamplePackets(sample).size());
    TempRoot root;
    SimClock clock(50.0);
    SimBackend backend(root.Path(), clock);
    FrameBufferConfig config;
    config.bitsPerPixel = bpp;
    EmulatedFrameBuffer fb(config);
    TsReplay replay(clock);
    EXPECT_TRUE(replay.LoadBytes(ts));
    replay.SetLoop(true);  // later data releases the last packets of a pass
    EmulatedDemux demux(replay, clock);
    demux.SetBufferSize(8 << 20);  // the comparison may fall behind the replay
    platform::Install(&backend);
    backend.Attach(paths::kFrameBuffer, &fb);
    backend.Attach(paths::kDemux, &demux);
    root.Write(paths::kDefaultFont, ReadAll(kFont));

    testing::internal::CaptureStderr();
    {
        Settings settings;
        FrameBufferDevice device;
        ComparingClient client(fb, size_t(run.expected), compare);
        PESFilter filter;
        EXPECT_EQ(device.Create(paths::kDefaultFont), 0);
        client.settings = &settings;
        client.display = &device;
        client.Start();
        filter.Start(pid, client, 0, true);
        for (int k = 0; k < 3000 && client.Received() < run.expected; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        filter.Stop();
        client.Stop();
        run.result = client.result;
        for (int y = 0; y < 576; ++y)
            for (int x = 0; x < 720; ++x) run.inkAfterStop += bpp == 32 ? (fb.Word(x, y) >> 24) != 0 : fb.Index(x, y) != 0;
        device.Destroy();
    }
    run.log = testing::internal::GetCapturedStderr();
    replay.Stop();
    run.tailIntact = fb.TailIntact();
    platform::Install(nullptr);
    return run;
}

const DvbSample* Find(const char* name) {
    for (const DvbSample& s : dvbsub::DvbSamples())
        if (std::string(s.name) == name) return dvbsub::DvbSamplePath(s).empty() ? nullptr : &s;
    return nullptr;
}

class DvbReference : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        sample_ = Find(GetParam());
        if (!sample_) GTEST_SKIP() << "the sample captures are not in " TEKO_SAMPLES_DIR;
        if (!Reference().Ok()) GTEST_SKIP() << "FFmpeg has no DVB subtitle decoder here";
    }
    const DvbSample* sample_ = nullptr;
};

TEST_P(DvbReference, EveryDisplaySetMatchesFFmpegAt32Bpp) {
    const ReplayRun run = Replay(*sample_, 32, true);
    const Result& r = run.result;
    std::printf("[ reference ] %s: %d of %d display sets matched FFmpeg (%d with subtitles, %d in "
                "default colours before their CLUT arrived), largest colour difference %d\n",
                sample_->name, r.matched, r.displaySets, r.drawnSets, r.defaultColourSets, r.maxColourDiff);
    EXPECT_EQ(r.packets, run.expected);
    EXPECT_GT(r.displaySets, 0);
    EXPECT_EQ(r.matched, r.displaySets) << r.firstMismatch;
    EXPECT_GT(r.drawnSets, 0);
    EXPECT_EQ(run.inkAfterStop, 0);
    EXPECT_TRUE(run.tailIntact);
}

TEST_P(DvbReference, PaletteScreenDrawsAndClearsTheSamePlaces) {
    const ReplayRun run = Replay(*sample_, 8, true);
    EXPECT_EQ(run.result.packets, run.expected);
    EXPECT_EQ(run.result.matched, run.result.displaySets) << run.result.firstMismatch;
    EXPECT_EQ(run.inkAfterStop, 0);
    EXPECT_TRUE(run.tailIntact);
}

INSTANTIATE_TEST_SUITE_P(StandardDefinition, DvbReference,
                         ::testing::Values("viewts", "graphics", "uk_colours", "uk_rollup"));

class DvbHarmless : public DvbReference {};

// Display definitions are ignored: regions inside 720 x 576 are drawn as
// placed, the others skipped; nothing is written outside the screen.
TEST_P(DvbHarmless, RunsWithoutHarm) {
    const ReplayRun run = Replay(*sample_, 32, false);
    const Result& r = run.result;
    if (r.right >= 0)
        std::printf("[ harmless  ] %s: %d packets, ink seen within x %d-%d, y %d-%d\n", sample_->name,
                    r.packets, r.left, r.right, r.top, r.bottom);
    else
        std::printf("[ harmless  ] %s: %d packets, nothing shown\n", sample_->name, r.packets);
    EXPECT_EQ(r.packets, run.expected);
    EXPECT_EQ(run.inkAfterStop, 0);
    EXPECT_TRUE(run.tailIntact);
}

INSTANTIATE_TEST_SUITE_P(Others, DvbHarmless, ::testing::Values("hd_damaged", "display_320x240", "string_coding"));

}  // namespace
