// Decodes every packet of each DVB subtitle sample with this decoder and
// with FFmpeg's avcodec_decode_subtitle2, five times each, and prints both
// rates (median of the five) and their ratio per sample, standard and high
// definition apart. This decoder composes and scales its pages onto a
// 32-bit display that takes the blits without storing them (FFmpeg makes
// its bitmaps and shows nothing); drawing into the emulated framebuffer
// through the framebuffer device is measured on its own. The decoder's
// log goes to /dev/null, as it costs what it costs on a box.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <benchmark/benchmark.h>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "EmulatedScreen.h"
#include "display/IDisplayDevice.h"
#include "dvbsub/subtitle.h"
#include "support/DvbSubSamples.h"

namespace {

using Packet = std::vector<uint8_t>;

struct Sample {
    std::string name;
    bool hd = false;  // a display definition other than 720 x 576
    std::vector<Packet> packets;
    long displaySets = 0;  // end-of-display-set segments
};

long CountDisplaySets(const Packet& p) {
    long n = 0;
    size_t i = p.size() > 9 ? 9 + p[8] + 2 : p.size();
    while (i + 6 <= p.size() && p[i] == 0x0F) {
        n += p[i + 1] == 0x80;
        i += 6 + ((p[i + 4] << 8) | p[i + 5]);
    }
    return n;
}

std::vector<Sample>& Samples() {
    static std::vector<Sample> samples = [] {
        std::vector<Sample> all;
        for (const dvbsub::DvbSample& s : dvbsub::DvbSamples()) {
            Sample sample;
            sample.name = s.name;
            sample.hd = s.displayWidth != 720 || s.displayHeight != 576;
            sample.packets = dvbsub::DvbSamplePackets(s);
            for (const Packet& p : sample.packets) sample.displaySets += CountDisplaySets(p);
            if (sample.displaySets) all.push_back(std::move(sample));
        }
        return all;
    }();
    return samples;
}

// Process CPU time: both decoders run on this one thread, and the machine
// may be busy with other work.
double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

// Display sets per CPU second of each repetition, by benchmark name.
std::map<std::string, std::vector<double>> rates;

// A 32-bit screen with nothing on it that takes every blit and keeps none.
class SinkDisplay : public IDisplayDevice {
public:
    int Create(std::string) override { return 0; }
    int Destroy() override { return 0; }
    int Clear() override { return 1; }
    int DrawText(std::string, int, int, int, int, int, int) override { return 0; }
    int DrawFilledRect(int, int, int, int, int) override { return 0; }
    int AllocateBackBuffer(int, int) override { return 0; }
    int FreeBackBuffer() override { return 0; }
    int BlitBackBuffer(int) override { return 0; }
    int SelectBackBuffer(bool) override { return 1; }
    int ReadPixel(int, int, unsigned char* out) override {
        out[0] = out[1] = out[2] = out[3] = 0;
        return 0;
    }
    void GetStringSize(int, std::string, int&, int&, int&) override {}
    void SetRawColor(int, int) override {}
    void BlitBitmap(unsigned char* data, int, int, int, int) override { benchmark::DoNotOptimize(data); }
    void BlitARGB(const uint32_t* data, int, int, int, int) override { benchmark::DoNotOptimize(data); }
    int Lock() override { return 0; }
    int UnLock() override { return 0; }
    int GetBPP() override { return 32; }
};


void RunOurs(benchmark::State& state, const Sample& s, IDisplayDevice* device, const std::string& key) {
    const double start = CpuSeconds();
    long passes = 0;
    for (auto _ : state) {
        // A fresh decoder, as after a channel change.
        subtitle_ctx ctx;
        ctx.device = device;
        ctx.screenEnabled = 1;
        for (const Packet& p : s.packets) subtitle_process_pes(&ctx, p.data(), int(p.size()));
        subtitle_clear_screen(&ctx);
        subtitle_reset(&ctx);
        ++passes;
    }
    rates[key].push_back(double(passes * s.displaySets) / (CpuSeconds() - start));
    state.SetItemsProcessed(passes * s.displaySets);
}

void BM_Ours(benchmark::State& state, const Sample* s) {
    SinkDisplay sink;
    RunOurs(state, *s, &sink, "ours/" + s->name);
}

// Decoding alone: no display, nothing composed.
void BM_OursDecode(benchmark::State& state, const Sample* s) { RunOurs(state, *s, nullptr, "ours_decode/" + s->name); }

void BM_OursEmulatedFramebuffer(benchmark::State& state, const Sample* s) {
    static bench::EmulatedScreen* screen = new bench::EmulatedScreen;
    if (!screen->Ok()) return state.SkipWithError("no emulated framebuffer");
    RunOurs(state, *s, &screen->device, "ours_emulated_fb/" + s->name);
}

void BM_FFmpeg(benchmark::State& state, const Sample* s) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
    if (!codec) return state.SkipWithError("no DVB subtitle decoder in libavcodec");
    // Padded copies of the segments (from the first sync byte), made once.
    std::vector<Packet> input;
    for (const Packet& p : s->packets) {
        const size_t start = p.size() > 9 ? 9 + p[8] + 2 : p.size();
        Packet d(p.begin() + long(std::min(start, p.size())), p.end());
        const size_t size = d.size();
        d.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        d.resize(size);
        input.push_back(std::move(d));
    }
    AVPacket* packet = av_packet_alloc();
    const double start = CpuSeconds();
    long passes = 0;
    for (auto _ : state) {
        AVCodecContext* ctx = avcodec_alloc_context3(codec);
        avcodec_open2(ctx, codec, nullptr);
        for (const Packet& d : input) {
            if (d.empty()) continue;
            packet->data = const_cast<uint8_t*>(d.data());
            packet->size = int(d.size());
            AVSubtitle sub;
            int got = 0;
            if (avcodec_decode_subtitle2(ctx, &sub, &got, packet) >= 0 && got) avsubtitle_free(&sub);
        }
        avcodec_free_context(&ctx);
        ++passes;
    }
    rates["ffmpeg/" + s->name].push_back(double(passes * s->displaySets) / (CpuSeconds() - start));
    av_packet_free(&packet);
    state.SetItemsProcessed(passes * s->displaySets);
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    if (!std::freopen("/dev/null", "w", stderr)) return 1;
    if (Samples().empty()) {
        std::printf("The DVB samples are not in %s\n", TEKO_SAMPLES_DIR);
        return 0;
    }
    for (const Sample& s : Samples()) {
        for (auto* b : {benchmark::RegisterBenchmark(("ours/" + s.name).c_str(), BM_Ours, &s),
                        benchmark::RegisterBenchmark(("ours_decode/" + s.name).c_str(), BM_OursDecode, &s),
                        benchmark::RegisterBenchmark(("ffmpeg/" + s.name).c_str(), BM_FFmpeg, &s),
                        benchmark::RegisterBenchmark(("ours_emulated_fb/" + s.name).c_str(), BM_OursEmulatedFramebuffer,
                                                     &s)})
            b->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true)->MinTime(0.2);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::printf("\n%-16s %-4s %5s %13s %13s %6s %13s %6s %13s\n", "sample", "kind", "sets", "FFmpeg sets/s",
                "decode", "ratio", "+ compose", "ratio", "+ fb");
    for (const Sample& s : Samples()) {
        const double ours = Median(rates["ours/" + s.name]), theirs = Median(rates["ffmpeg/" + s.name]);
        const double fb = Median(rates["ours_emulated_fb/" + s.name]);
        const double decode = Median(rates["ours_decode/" + s.name]);
        if (theirs <= 0 || decode <= 0) continue;
        std::printf("%-16s %-4s %5ld %13.0f %13.0f %6.2f %13.0f %6.2f %13.0f\n", s.name.c_str(), s.hd ? "HD" : "SD",
                    s.displaySets, theirs, decode, decode / theirs, ours, ours / theirs, fb);
    }
    std::printf("(display sets per CPU second, median of five runs each: FFmpeg's avcodec_decode_subtitle2; this\n"
                " decoder alone; decoding and composing onto a 32-bit display that keeps nothing, scaling included;\n"
                " and drawing through the framebuffer device into the emulated framebuffer. Ratios against FFmpeg.)\n");
    return 0;
}
