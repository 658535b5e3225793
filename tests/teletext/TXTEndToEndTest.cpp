// The client end to end: a capture replayed by the emulated demultiplexer,
// cut into packets by the PES filter's reader thread, drawn by the
// framebuffer device (FreeType text) into the emulated framebuffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "EmulatedFrameBuffer.h"
#include "config/Options.h"
#include "config/Settings.h"
#include "config/Translator.h"
#include "demux/PESFilter.h"
#include "display/FrameBufferDevice.h"
#include "render/Presenter.h"
#include "platform/Paths.h"
#include "support/DemuxEnv.h"
#include "support/DvbSubSamples.h"
#include "support/TeletextSamples.h"
#include "support/TsBuilder.h"
#include "teletext/TXTSubtitle.h"

namespace {

const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Outcome {
    std::string log;
    int blits = 0;
    int inkTop = 576, inkBottom = -1;  // lines with ink at any blit
    int inkAfterStop = 0;
    bool tailIntact = false;
};

// Replays `ts` twice (the last packets of a pass are released by the next
// pass's data), on a screen of `bpp`.
Outcome Replay(const std::vector<uint8_t>& ts, int pid, int page, const char* language, int bpp) {
    Outcome out;
    FrameBufferConfig config;
    config.bitsPerPixel = bpp;
    EmulatedFrameBuffer fb(config);
    // Eight times real time: fast, yet slow enough for a sanitizer build's
    // reader to keep up with the demultiplexer's 8 KiB buffer.
    DemuxEnv env;
    EXPECT_TRUE(env.LoadBytes(ts));
    env.replay.SetLoop(true);
    env.backend.Attach(paths::kFrameBuffer, &fb);
    env.root.Copy(paths::kDefaultFont, kFont);
    env.root.Copy(paths::kTranslation, TEKO_SOURCE_DIR "/data/TEKO.translation");
    fb.SetBlitObserver([&](const EmulatedFrameBuffer::BlitEvent& e) {
        if (e.firstRow < 0) return;
        for (int y = e.firstRow; y <= e.lastRow; ++y)
            for (int x = 0; x < 720; ++x)
                if (fb.Argb(x, y) >> 24) {
                    out.inkTop = std::min(out.inkTop, y);
                    out.inkBottom = std::max(out.inkBottom, y);
                    break;
                }
    });

    testing::internal::CaptureStderr();
    {
        Settings settings;
        Translator translator;
        FrameBufferDevice device;
        TXTSubtitle txt;
        PESFilter filter;
        translator.SelectCountryCode(language);
        EXPECT_EQ(device.Create(paths::kDefaultFont), 0);
        render::Presenter presenter;
        presenter.teletext.Start(&device, config::ReadOptions(settings).teletext, 4);
        txt.sink = &presenter;
        txt.Start(page, translator.Set());
        filter.Start(pid, txt, 0, false);
        // The second pass's data releases the last packets of the first.
        EXPECT_TRUE(env.WaitUntil([&] { return env.replay.Loops() >= 2; }, 600000));
        filter.Stop();
        txt.Stop();
        out.blits = fb.Blits();
        for (int y = 0; y < 576; ++y)
            for (int x = 0; x < 720; ++x) out.inkAfterStop += (fb.Argb(x, y) >> 24) != 0;
        device.Destroy();
    }
    out.log = testing::internal::GetCapturedStderr();
    env.replay.Stop();
    out.tailIntact = fb.TailIntact();
    return out;
}

std::vector<uint8_t> Capture(const char* file) {
    std::string path = ttx::SamplePath(file);
    return path.empty() ? std::vector<uint8_t>() : dvbsub::ReadBytes(path);
}

}  // namespace

// The capture without PSI, wrapped with PAT, PMT and PCR as a multiplex
// would carry it; German page 150 on a 32-bit screen.
TEST(TXTEndToEnd, TwoBoxRowOfPage150OnA32BitScreen) {
    std::string path = ttx::SamplePath("subtitleedit-sample_TS_with_teletext.ts");
    if (path.empty()) GTEST_SKIP() << "the sample captures are not in " TEKO_SAMPLES_DIR;
    ts::Bytes raw;
    for (const auto& pes : ttx::ReadPesOfPid(path, 0x13F0)) raw.insert(raw.end(), pes.begin(), pes.end());
    ts::WrapOptions options;
    options.pid = 0x13F0;
    Outcome out = Replay(ts::WrapPes(raw, options), 0x13F0, 0x150, "ger", 32);
    EXPECT_NE(out.log.find("TEKO: Subtitle@20:F}r diese Klassenstufe ist er nicht\n"), std::string::npos) << out.log;
    EXPECT_NE(out.log.find("TEKO: Subtitle@22:geeignet. Stufen Sie ihn zur}ck!\n"), std::string::npos);
    EXPECT_EQ(out.log.find("ERROR from PESFilter"), std::string::npos);
    EXPECT_EQ(out.log.find("don't draw"), std::string::npos);
    EXPECT_GT(out.blits, 0);
    // Two lines near the bottom: between the top of the upper box and line 540.
    ASSERT_GE(out.inkBottom, 0);
    EXPECT_GT(out.inkTop, 400);
    EXPECT_LT(out.inkBottom, 545);
    EXPECT_EQ(out.inkAfterStop, 0);
    EXPECT_TRUE(out.tailIntact);
}

// The same capture as recorded (no PSI: the filter needs only the PID);
// Danish page 799 on a palette screen.
TEST(TXTEndToEnd, Page799OnAPaletteScreen) {
    auto ts = Capture("subtitleedit-sample_TS_with_teletext.ts");
    if (ts.empty()) GTEST_SKIP() << "the sample captures are not in " TEKO_SAMPLES_DIR;
    Outcome out = Replay(ts, 0x13F0, 0x799, "dan", 8);
    EXPECT_NE(out.log.find("TEKO: Subtitle@20:Han er ikke egnet"), std::string::npos) << out.log;
    EXPECT_NE(out.log.find("TEKO: Subtitle@22:indhente det fors|mte."), std::string::npos) << out.log;
    EXPECT_EQ(out.log.find("ERROR from PESFilter"), std::string::npos);
    EXPECT_GT(out.blits, 0);
    ASSERT_GE(out.inkBottom, 0);
    EXPECT_GT(out.inkTop, 400);
    EXPECT_EQ(out.inkAfterStop, 0);
    EXPECT_TRUE(out.tailIntact);
}
