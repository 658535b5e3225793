// Display costs on the emulated 32-bit 720 x 576 framebuffer: one
// Teletext-style subtitle line composed in a back buffer and blitted, and a
// full-screen clear, each next to a memcpy of the same number of bytes (the
// physical limit of this machine).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "EmulatedFrameBuffer.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "display/FrameBufferDevice.h"
#include "platform/Paths.h"

namespace {

constexpr int kLines = 44;  // back-buffer lines of one double-height row
constexpr int kSize = 28;
const std::string kText = "Hej! Vad g\xF6r du h\xE4r s\xE5 sent, Anna? Ja";  // 37 characters

class Screen {
public:
    Screen() : backend_(MakeRoot(), clock_) {
        platform::Install(&backend_);
        backend_.Attach(paths::kFrameBuffer, &fb_);
        ok_ = device.Create(paths::kDefaultFont) == 0;
    }
    ~Screen() {
        device.Destroy();
        platform::Install(nullptr);
        std::string command = "rm -rf '" + backend_.Root() + "'";
        if (system(command.c_str()) != 0) {
        }
    }
    bool Ok() const { return ok_; }
    EmulatedFrameBuffer& Fb() { return fb_; }
    FrameBufferDevice device;

private:
    static std::string MakeRoot() {
        char pattern[] = "/tmp/teko-bench-XXXXXX";
        std::string root = mkdtemp(pattern);
        for (const char* dir : {"/usr", "/usr/share", "/usr/share/fonts"}) {
            mkdir((root + dir).c_str(), 0755);
        }
        std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
        std::ofstream out(root + paths::kDefaultFont, std::ios::binary);
        out << in.rdbuf();
        return root;
    }
    SimClock clock_;
    SimBackend backend_;
    EmulatedFrameBuffer fb_;
    bool ok_ = false;
};

// Box, eight outline copies and the text, composed off screen and copied
// to the screen rows near the bottom. The driver's FBIO_BLIT (UnLock) is the
// emulator's work, not the daemon's, and is left out.
void BM_TeletextLine(benchmark::State& state) {
    Screen screen;
    if (!screen.Ok()) {
        state.SkipWithError("DejaVu Sans missing");
        return;
    }
    FrameBufferDevice& d = screen.device;
    int w, h, dep;
    d.GetStringSize(kSize, kText, w, h, dep);
    const int x = (720 - w) / 2;
    for (auto _ : state) {
        d.AllocateBackBuffer(kLines, 0);
        d.SelectBackBuffer(true);
        d.DrawFilledRect(x - 6, 0, w + 12, kLines, 0x000000C0);
        for (int dy = -2; dy <= 2; dy += 2)
            for (int dx = -2; dx <= 2; dx += 2)
                if (dx || dy) d.DrawText(kText, x + dx, 32 + dy, w + 10, 0, kSize, 0x000000FF);
        d.DrawText(kText, x, 32, w + 10, 0, kSize, 0xFFFFFFFF);
        d.BlitBackBuffer(500);
        d.SelectBackBuffer(false);
        d.FreeBackBuffer();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kLines * 720 * 4);
    state.counters["chars"] = double(kText.size());
}
BENCHMARK(BM_TeletextLine);

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

BENCHMARK_MAIN();
