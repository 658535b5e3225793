// Display costs on the emulated 32-bit 720 x 576 framebuffer: one
// Teletext-style subtitle line composed in a back buffer and blitted, and a
// full-screen clear, each next to a memcpy of the same number of bytes (the
// physical limit of this machine).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <fstream>
#include <string>
#include <vector>

#include "EmulatedFrameBuffer.h"
#include "Medians.h"
#include "SimBackend.h"
#include "EmulatedScreen.h"
#include "SimClock.h"
#include "display/FrameBufferDevice.h"
#include "platform/Paths.h"

namespace {

constexpr int kLines = 44;  // back-buffer lines of one double-height row
constexpr int kSize = 28;
const std::string kText = "Hej! Vad g\xC3\xB6r du h\xC3\xA4r s\xC3\xA5 sent, Anna? Ja";  // 37 characters, UTF-8

using Screen = bench::EmulatedScreen;

// Box, eight outline copies and the text, composed off screen and copied
// to the screen rows near the bottom, as the Teletext renderer draws it:
// all outlines from the cached glyph outlines, then the text. The driver's
// FBIO_BLIT (UnLock) is the emulator's work, not the daemon's, and is left
// out. With `nine` the outline is drawn as eight DrawText passes instead.
void TeletextLine(benchmark::State& state, bool nine) {
    Screen screen;
    if (!screen.Ok()) {
        state.SkipWithError("DejaVu Sans missing");
        return;
    }
    FrameBufferDevice& d = screen.device;
    IDisplayDevice& base = d;
    int w, h, dep;
    d.GetStringSize(kSize, kText, w, h, dep);
    const int x = (720 - w) / 2;
    for (auto _ : state) {
        d.AllocateBackBuffer(kLines, 0);
        d.SelectBackBuffer(true);
        d.DrawFilledRect(x - 6, 0, w + 12, kLines, 0x000000C0);
        if (nine)
            base.IDisplayDevice::DrawOutlinedText(kText, x, 32, w + 10, kSize, 0xFFFFFFFF, 0x000000FF, 2);
        else
            d.DrawOutlinedText(kText, x, 32, w + 10, kSize, 0xFFFFFFFF, 0x000000FF, 2);
        d.BlitBackBuffer(500);
        d.SelectBackBuffer(false);
        d.FreeBackBuffer();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kLines * 720 * 4);
    state.counters["chars"] = 37;
}
void BM_TeletextLine(benchmark::State& state) { TeletextLine(state, false); }
BENCHMARK(BM_TeletextLine);
void BM_TeletextLineNinePasses(benchmark::State& state) { TeletextLine(state, true); }
BENCHMARK(BM_TeletextLineNinePasses);

void BM_ClearScreen(benchmark::State& state) {
    Screen screen;
    if (!screen.Ok()) {
        state.SkipWithError("DejaVu Sans missing");
        return;
    }
    for (auto _ : state) {
        screen.device.Clear();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 720 * 576 * 4);
}
BENCHMARK(BM_ClearScreen);

// memcpy of `bytes` into the emulated screen memory: the same bytes a line
// blit (its back buffer) or a clear moves.
void BM_Memcpy(benchmark::State& state) {
    Screen screen;
    const size_t bytes = size_t(state.range(0));
    std::vector<uint8_t> source(bytes, 0x5A);
    uint8_t* to = screen.Fb().Memory();
    for (auto _ : state) {
        std::memcpy(to, source.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_Memcpy)->Arg(kLines * 720 * 4)->Arg(720 * 576 * 4);

}  // namespace

// The line against the memcpy of its back-buffer bytes, from the medians of
// CPU time over the repetitions (five unless told otherwise).
int main(int argc, char** argv) {
    bench::InitializeWithFiveRuns(&argc, argv);
    bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double copy = reporter.Median("BM_Memcpy/" + std::to_string(kLines * 720 * 4));
    for (const char* name : {"BM_TeletextLine", "BM_TeletextLineNinePasses"}) {
        const double line = reporter.Median(name);
        if (line > 0 && copy > 0)
            std::printf("%-26s %8.2f us = %5.1f x memcpy of its %d back-buffer bytes (%.2f us)\n", name, line / 1e3,
                        line / copy, kLines * 720 * 4, copy / 1e3);
    }
    benchmark::Shutdown();
    return 0;
}
