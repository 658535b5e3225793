// Decodes every packet of the DVB subtitle samples with this decoder and
// with FFmpeg's avcodec_decode_subtitle2, without drawing (no display
// device; FFmpeg's bitmaps are made but not shown), and prints both rates
// and their ratio from the same run. The decoder's log goes to /dev/null,
// as it costs what it costs on a box.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <vector>

#include "dvbsub/subtitle.h"
#include "support/DvbSubSamples.h"

namespace {

using Packet = std::vector<uint8_t>;

struct Corpus {
    std::vector<Packet> packets;  // every sample, one after the other
    std::vector<size_t> firsts;   // index of each sample's first packet
    long displaySets = 0;         // end-of-display-set segments
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

const Corpus& Samples() {
    static Corpus corpus = [] {
        Corpus c;
        for (const dvbsub::DvbSample& s : dvbsub::DvbSamples()) {
            c.firsts.push_back(c.packets.size());
            for (Packet& p : dvbsub::DvbSamplePackets(s)) {
                c.displaySets += CountDisplaySets(p);
                c.packets.push_back(std::move(p));
            }
        }
        return c;
    }();
    return corpus;
}

// Process CPU time: both decoders run on this one thread, and the machine
// may be busy with other work.
double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

struct Rate {
    double seconds = 0;
    long passes = 0;
};
Rate ours, theirs;

void BM_Ours(benchmark::State& state) {
    const Corpus& c = Samples();
    const double start = CpuSeconds();
    long passes = 0;
    for (auto _ : state) {
        for (size_t s = 0; s < c.firsts.size(); ++s) {
            // Each sample on a fresh decoder, as after a channel change.
            subtitle_ctx ctx;
            ctx.screenEnabled = 1;
            const size_t end = s + 1 < c.firsts.size() ? c.firsts[s + 1] : c.packets.size();
            for (size_t i = c.firsts[s]; i < end; ++i)
                subtitle_process_pes(&ctx, c.packets[i].data(), int(c.packets[i].size()));
            subtitle_reset(&ctx);
        }
        ++passes;
    }
    ours.seconds = CpuSeconds() - start;
    ours.passes = passes;
    state.SetItemsProcessed(passes * c.displaySets);
}

void BM_FFmpeg(benchmark::State& state) {
    const Corpus& c = Samples();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE);
    if (!codec) {
        state.SkipWithError("no DVB subtitle decoder in libavcodec");
        return;
    }
    // Padded copies of the segments (from the first sync byte), made once.
    std::vector<Packet> input;
    for (const Packet& p : c.packets) {
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
        for (size_t s = 0; s < c.firsts.size(); ++s) {
            AVCodecContext* ctx = avcodec_alloc_context3(codec);
            avcodec_open2(ctx, codec, nullptr);
            const size_t end = s + 1 < c.firsts.size() ? c.firsts[s + 1] : c.packets.size();
            for (size_t i = c.firsts[s]; i < end; ++i) {
                if (input[i].empty()) continue;
                packet->data = input[i].data();
                packet->size = int(input[i].size());
                AVSubtitle sub;
                int got = 0;
                if (avcodec_decode_subtitle2(ctx, &sub, &got, packet) >= 0 && got) avsubtitle_free(&sub);
            }
            avcodec_free_context(&ctx);
        }
        ++passes;
    }
    theirs.seconds = CpuSeconds() - start;
    theirs.passes = passes;
    av_packet_free(&packet);
    state.SetItemsProcessed(passes * c.displaySets);
}

BENCHMARK(BM_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FFmpeg)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_QUIET);
    if (!std::freopen("/dev/null", "w", stderr)) return 1;
    const Corpus& c = Samples();
    if (c.packets.empty()) {
        std::printf("The DVB samples are not in %s\n", TEKO_SAMPLES_DIR);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (ours.passes && theirs.passes) {
        const double a = ours.passes * c.displaySets / ours.seconds;
        const double b = theirs.passes * c.displaySets / theirs.seconds;
        std::printf("%zu packets, %ld display sets per pass\n", c.packets.size(), c.displaySets);
        std::printf("ours:   %.0f display sets/s\nFFmpeg: %.0f display sets/s\nratio ours/FFmpeg: %.2f\n", a,
                    b, a / b);
    }
    return 0;
}
