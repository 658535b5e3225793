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
// Pages for displays of 1920 x 1080 and 320 x 240 are compared with
// FFmpeg's pictures scaled by area; the character-coded stream must run
// without harm.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "EmulatedFrameBuffer.h"
#include "config/Settings.h"
#include "demux/PESFilter.h"
#include "display/FrameBufferDevice.h"
#include "dvbsub/DVBSubtitle.h"
#include "platform/Paths.h"
#include "render/Presenter.h"
#include "support/DemuxEnv.h"
#include "support/DvbReference.h"
#include "support/DvbSubSamples.h"
#include "support/TsBuilder.h"

namespace {

using dvbsub::DvbSample;

const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

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
    // Scaled pages: the agreement with FFmpeg's pictures scaled by area,
    // over the display sets where either shows something.
    int scaledSets = 0;
    double minOpaqueIoU = 1, minLightIoU = 1;
    int damagedSets = 0;  // from packets damaged on the way
    double damagedOpaqueIoU = 1;
};

// The client as the PES filter's user, comparing after every packet.
class ComparingClient : public DVBSubtitle {
public:
    ComparingClient(EmulatedFrameBuffer& fb, size_t limit, bool compare, const dvbref::Options& options)
        : fb_(fb), limit_(limit), compare_(compare), reference_(options),
          scaled_(options.displayWidth != dvbref::kWidth || options.displayHeight != dvbref::kHeight) {}
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
    // The screen as drawn (0xAARRGGBB words, or palette indices), or as
    // seen (palette indices through the box's palette, as ARGB).
    dvbref::Screen Grab(bool seen = false) const {
        const bool words = fb_.BitsPerPixel() == 32;
        dvbref::Screen screen(size_t(dvbref::kWidth) * dvbref::kHeight);
        for (int y = 0; y < dvbref::kHeight; ++y)
            for (int x = 0; x < dvbref::kWidth; ++x)
                screen[size_t(y) * dvbref::kWidth + x] =
                    seen ? fb_.Argb(x, y) : words ? fb_.Word(x, y) : fb_.Index(x, y);
        return screen;
    }
    void Inspect(const PESPacket& packet) {
        ++result.packets;
        const int bpp = fb_.BitsPerPixel();
        const dvbref::Screen ours = Grab();
        bool ink = false;
        for (size_t at = 0; at < ours.size(); ++at)
            if (bpp == 32 ? (ours[at] >> 24) != 0 : ours[at] != 0) {
                ink = true;
                const int x = int(at % dvbref::kWidth), y = int(at / dvbref::kWidth);
                result.left = std::min(result.left, x), result.right = std::max(result.right, x);
                result.top = std::min(result.top, y), result.bottom = std::max(result.bottom, y);
            }
        dvbref::Screen ref;
        if (!compare_ || !reference_.Decode(packet.data, size_t(packet.size), ref)) return;
        result.drawnSets += ink;
        ++result.displaySets;
        // Scaled pages are compared as a viewer sees them, on either depth.
        if (scaled_) return Agreement(packet, bpp == 32 ? ours : Grab(true), ref);
        const bool defaults = UsesDefaultColours();
        result.defaultColourSets += defaults;
        // A palette screen is compared by places only (indices go out as
        // decoded); in default colours only what is visible.
        const std::string mismatch =
            bpp == 32 && defaults ? dvbref::Compare(dvbref::Visible(ours), dvbref::Visible(ref), 32, nullptr)
                                  : dvbref::Compare(ours, ref, bpp, &result.maxColourDiff);
        if (!mismatch.empty() && result.firstMismatch.empty())
            result.firstMismatch = "packet " + std::to_string(result.packets - 1) + " at " + mismatch;
        result.matched += mismatch.empty();
    }

    // The segments line up from the first sync byte to the end of the packet.
    static bool Intact(const PESPacket& p) {
        int i = p.size > 9 ? 9 + p.data[8] + 2 : p.size;
        while (i + 6 <= p.size && p.data[i] == 0x0F) i += 6 + ((p.data[i + 4] << 8) | p.data[i + 5]);
        return i == p.size || (i < p.size && p.data[i] == 0xFF);
    }

    void Agreement(const PESPacket& packet, const dvbref::Screen& ours, const dvbref::Screen& ref) {
        if (!dvbref::Ink(ours, 32) && !dvbref::Ink(ref, 32)) {
            ++result.matched;
            return;
        }
        // A palette screen shows the box's 16 fixed colours, not the
        // stream's: there only what is opaque is compared.
        const double opaque = dvbref::OpaqueIoU(ours, ref);
        const double light = fb_.BitsPerPixel() == 32 ? dvbref::LightIoU(ours, ref) : 1.0;
        // Packets damaged on the way are compared too: both decoders drop
        // what follows the foreign bytes in the same way.
        if (!Intact(packet)) {
            ++result.damagedSets;
            result.damagedOpaqueIoU = std::min(result.damagedOpaqueIoU, opaque);
        }
        ++result.scaledSets;
        result.minOpaqueIoU = std::min(result.minOpaqueIoU, opaque);
        result.minLightIoU = std::min(result.minLightIoU, light);
        if (opaque >= 0.95 && light >= 0.85) ++result.matched;
        else if (result.firstMismatch.empty())
            result.firstMismatch = "packet " + std::to_string(result.packets - 1) + ": IoU " + std::to_string(opaque) +
                                   " opaque, " + std::to_string(light) + " light";
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
    dvbref::FfmpegDecoder reference_;
    bool scaled_;
};

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
    FrameBufferConfig config;
    config.bitsPerPixel = bpp;
    EmulatedFrameBuffer fb(config);
    DemuxEnv env;
    EXPECT_TRUE(env.LoadBytes(ts));
    env.replay.SetLoop(true);  // later data releases the last packets of a pass
    env.backend.Attach(paths::kFrameBuffer, &fb);
    env.root.Copy(paths::kDefaultFont, kFont);

    testing::internal::CaptureStderr();
    {
        FrameBufferDevice device;
        dvbref::Options options;
        options.displayWidth = sample.displayWidth;
        options.displayHeight = sample.displayHeight;
        ComparingClient client(fb, size_t(run.expected), compare, options);
        PESFilter filter;
        EXPECT_EQ(device.Create(paths::kDefaultFont), 0);
        render::Presenter presenter;
        presenter.dvb.Start(&device, config::DvbOptions());
        client.sink = &presenter;
        client.Start();
        filter.Start(pid, client, 0, true);
        EXPECT_TRUE(env.WaitUntil([&] { return client.Received() >= run.expected; }, 1500000));
        filter.Stop();
        client.Stop();
        run.result = client.result;
        for (int y = 0; y < 576; ++y)
            for (int x = 0; x < 720; ++x) run.inkAfterStop += bpp == 32 ? (fb.Word(x, y) >> 24) != 0 : fb.Index(x, y) != 0;
        device.Destroy();
    }
    run.log = testing::internal::GetCapturedStderr();
    env.replay.Stop();
    run.tailIntact = fb.TailIntact();
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
        if (!dvbref::FfmpegDecoder().Ok()) GTEST_SKIP() << "FFmpeg has no DVB subtitle decoder here";
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

// Pages composed for another display, scaled onto the screen: against
// FFmpeg's pictures scaled by area, opaque pixels agree at IoU >= 0.95 and
// light (text) pixels at IoU >= 0.85 in every display set.
class DvbScaled : public DvbReference {};

TEST_P(DvbScaled, EveryDisplaySetAgreesWithFFmpegScaledByArea) {
    for (int bpp : {32, 8}) {
        SCOPED_TRACE(bpp);
        const ReplayRun run = Replay(*sample_, bpp, true);
        const Result& r = run.result;
        std::printf("[ scaled    ] %s (%dx%d) at %d bpp: %d of %d display sets agree, %d with subtitles; smallest IoU "
                    "%.3f opaque, %.3f light; %d from damaged packets (smallest opaque IoU %.3f)\n",
                    sample_->name, sample_->displayWidth, sample_->displayHeight, bpp, r.matched, r.displaySets,
                    r.scaledSets, r.minOpaqueIoU, r.minLightIoU, r.damagedSets, r.damagedOpaqueIoU);
        EXPECT_EQ(r.packets, run.expected);
        EXPECT_GT(r.scaledSets, 0);
        EXPECT_EQ(r.matched, r.displaySets) << r.firstMismatch;
        EXPECT_EQ(run.inkAfterStop, 0);
        EXPECT_TRUE(run.tailIntact);
    }
}

INSTANTIATE_TEST_SUITE_P(OtherDisplays, DvbScaled, ::testing::Values("hd_damaged", "display_320x240"));

class DvbHarmless : public DvbReference {};

// Streams that are not compared run without harm: nothing is written
// outside the screen, and everything is cleared at the stop.
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

INSTANTIATE_TEST_SUITE_P(Others, DvbHarmless, ::testing::Values("string_coding"));

}  // namespace
