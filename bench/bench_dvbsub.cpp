// Decodes every packet of each DVB subtitle sample with this decoder and
// with FFmpeg's avcodec_decode_subtitle2 and prints both rates and their
// ratio per sample, standard and high definition apart. The sides take
// turns, one repetition each per round, so that load from elsewhere on a
// shared machine falls on both instead of moving the ratio. This decoder
// composes and scales its pages onto a 32-bit display that takes the blits
// without storing them (FFmpeg makes its bitmaps and shows nothing);
// drawing into the emulated framebuffer through the framebuffer device is
// measured too, without a ratio. The decoder's log goes to /dev/null, as it
// costs what it costs on a box. --profile=SIDE,PASSES runs one side alone,
// untimed, for callgrind (valgrind --tool=callgrind bench_dvbsub
// --profile=compose,50 --filter=hd_damaged).
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "EmulatedScreen.h"
#include "Interleaved.h"
#include "display/IDisplayDevice.h"
#include "render/Presenter.h"
#include "dvbsub/subtitle.h"
#include "support/DvbSubSamples.h"

namespace {

// Rounds unless the command line asks otherwise: odd, so that a median is
// a measured rate.
constexpr int kRepetitions = 11;
// CPU time of one repetition: short enough for the sides to take turns
// often, long enough that a scheduler tick is a small part of it.
constexpr double kRepetitionSeconds = 0.1;


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

// A 32-bit screen with nothing on it that takes every blit and keeps none.
// The other-display test reads its memory as the framebuffer device reads
// the screen and its record of what it drew.
class SinkDisplay : public IDisplayDevice {
public:
    SinkDisplay() : screen_(size_t(kScreenWidth) * kScreenHeight), shown_(screen_.size()) {}
    int FirstOther(int x, int top, int bottom, int step) override {
        for (int y = top; y < bottom; y += step) {
            const size_t at = size_t(y) * kScreenWidth + size_t(x);
            if ((screen_[at] >> 24) != 0 && screen_[at] != shown_[at]) return y;
        }
        return -1;
    }
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

private:
    std::vector<uint32_t> screen_, shown_;
};

// One pass of this decoder over a sample: a fresh decoder, as after a
// channel change, given every packet; composing onto `device` if there is one.
void OursPass(const Sample& s, IDisplayDevice* device) {
    render::Presenter presenter;
    presenter.dvb.Start(device, config::DvbOptions());
    subtitle_ctx ctx;
    ctx.sink = device ? &presenter : nullptr;
    ctx.screenEnabled = 1;
    for (const Packet& p : s.packets) subtitle_process_pes(&ctx, p.data(), int(p.size()));
    subtitle_clear_screen(&ctx);
    subtitle_reset(&ctx);
}

// FFmpeg's DVB subtitle decoder on padded copies of a sample's segments
// (from the first sync byte), made once so that a pass only decodes.
class FFmpegDecoder {
public:
    explicit FFmpegDecoder(const Sample& s)
        : codec_(avcodec_find_decoder(AV_CODEC_ID_DVB_SUBTITLE)), packet_(av_packet_alloc()) {
        for (const Packet& p : s.packets) {
            const size_t start = std::min(p.size() > 9 ? 9 + p[8] + 2 : p.size(), p.size());
            if (start < p.size()) input_.push_back(PaddedCopy(p.data() + start, p.size() - start));
        }
    }
    ~FFmpegDecoder() { av_packet_free(&packet_); }
    FFmpegDecoder(const FFmpegDecoder&) = delete;
    FFmpegDecoder& operator=(const FFmpegDecoder&) = delete;
    // A decoder that would not open would make its passes look fast.
    bool Ok() const {
        if (!codec_ || !packet_) return false;
        AVCodecContext* ctx = avcodec_alloc_context3(codec_);
        const bool opened = ctx && avcodec_open2(ctx, codec_, nullptr) >= 0;
        avcodec_free_context(&ctx);
        return opened;
    }

    // A fresh context, as for this decoder, given every packet.
    void Pass() {
        AVCodecContext* ctx = avcodec_alloc_context3(codec_);
        avcodec_open2(ctx, codec_, nullptr);
        for (const Packet& d : input_) {
            packet_->data = const_cast<uint8_t*>(d.data());
            packet_->size = int(d.size());
            AVSubtitle sub;
            int got = 0;
            if (avcodec_decode_subtitle2(ctx, &sub, &got, packet_) >= 0 && got) avsubtitle_free(&sub);
        }
        avcodec_free_context(&ctx);
    }

private:
    // The bytes past the end that FFmpeg's bit reader may touch stay zero
    // in the vector's storage.
    static Packet PaddedCopy(const uint8_t* data, size_t size) {
        Packet d;
        d.reserve(size + AV_INPUT_BUFFER_PADDING_SIZE);
        d.insert(d.end(), data, data + size);
        d.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        d.resize(size);
        return d;
    }
    const AVCodec* codec_;
    AVPacket* packet_;
    std::vector<Packet> input_;
};

struct Options {
    int repetitions = kRepetitions;
    double seconds = kRepetitionSeconds;
    std::string filter;  // only the samples whose name holds this
    // One side alone (decode, ffmpeg, compose or fb) for this many passes
    // per sample, nothing timed: for a profiler such as callgrind, whose
    // counts should not mix the sides.
    std::string side;
    long passes = 0;
};

// The value of `--key=value` in `arg`, or false if `arg` is another option.
bool OptionValue(const std::string& arg, const std::string& key, std::string& value) {
    const std::string prefix = "--" + key + "=";
    if (arg.compare(0, prefix.size(), prefix) != 0) return false;
    value = arg.substr(prefix.size());
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (OptionValue(argv[i], "repetitions", value)) {
            o.repetitions = std::atoi(value.c_str());
        } else if (OptionValue(argv[i], "seconds", value)) {
            o.seconds = std::atof(value.c_str());
        } else if (OptionValue(argv[i], "profile", o.side)) {
            const size_t comma = o.side.find(',');
            o.passes = comma == std::string::npos ? 100 : std::atol(o.side.c_str() + comma + 1);
            o.side = o.side.substr(0, comma);
        } else if (!OptionValue(argv[i], "filter", o.filter)) {
            return false;
        }
    }
    return o.repetitions > 0 && o.seconds > 0 && (o.side.empty() || o.passes > 0);
}

// The emulated framebuffer's device, made once for every sample, or null.
IDisplayDevice* EmulatedFramebuffer() {
    static bench::EmulatedScreen* screen = new bench::EmulatedScreen;
    return screen->Ok() ? &screen->device : nullptr;
}

void PrintHeader() {
    std::printf("%-16s %-4s %5s %9s %9s %5s %11s %9s %5s %11s %7s\n", "sample", "kind", "sets", "FFmpeg", "decode",
                "ratio", "min-max", "+compose", "ratio", "min-max", "+fb");
}

void PrintRow(const Sample& s, const bench::Side& theirs, const bench::Side& decode, const bench::Side& compose,
              const bench::Side* fb) {
    auto sets = [&](const bench::Side& side) { return bench::Median(side.rates) * double(s.displaySets); };
    const bench::Ratio d = bench::CompareRates(decode, theirs), c = bench::CompareRates(compose, theirs);
    std::printf("%-16s %-4s %5ld %9.0f %9.0f %5.2f %5.2f-%-5.2f %9.0f %5.2f %5.2f-%-5.2f %7.0f\n", s.name.c_str(),
                s.hd ? "HD" : "SD", s.displaySets, sets(theirs), sets(decode), d.ofMedians, d.min, d.max,
                sets(compose), c.ofMedians, c.min, c.max, fb ? sets(*fb) : 0.0);
    std::fflush(stdout);
}

// Every side calibrated, then the rounds. FFmpeg is listed between the two
// sides it is compared with, so that it runs next to each in every round.
void MeasureSample(const Sample& s, const Options& o) {
    FFmpegDecoder ffmpeg(s);
    if (!ffmpeg.Ok()) {
        std::printf("%-16s FFmpeg's DVB subtitle decoder does not open\n", s.name.c_str());
        return;
    }
    SinkDisplay sink;
    IDisplayDevice* screen = EmulatedFramebuffer();
    bench::Side decode{[&] { OursPass(s, nullptr); }};
    bench::Side theirs{[&] { ffmpeg.Pass(); }};
    bench::Side compose{[&] { OursPass(s, &sink); }};
    bench::Side fb{[&] { OursPass(s, screen); }};
    if (!o.side.empty()) {
        bench::Side* only = o.side == "decode" ? &decode : o.side == "ffmpeg" ? &theirs
                            : o.side == "compose" ? &compose : screen && o.side == "fb" ? &fb : nullptr;
        if (only) bench::TimePasses(*only, o.passes);
        return;
    }
    std::vector<bench::Side*> sides{&decode, &theirs, &compose};
    if (screen) sides.push_back(&fb);
    for (bench::Side* side : sides) bench::Calibrate(*side, o.seconds);
    bench::RunInterleaved(sides, o.repetitions);
    PrintRow(s, theirs, decode, compose, screen ? &fb : nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::printf("usage: %s [--repetitions=N] [--seconds=CPU-SECONDS] [--filter=SAMPLE]\n"
                    "       %s --profile=decode|ffmpeg|compose|fb[,PASSES] [--filter=SAMPLE]\n",
                    argv[0], argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    if (!std::freopen("/dev/null", "w", stderr)) return 1;
    if (Samples().empty()) {
        std::printf("The DVB samples are not in %s\n", TEKO_SAMPLES_DIR);
        return 0;
    }
    if (options.side.empty()) PrintHeader();
    for (const Sample& s : Samples())
        if (s.name.find(options.filter) != std::string::npos) MeasureSample(s, options);
    if (!options.side.empty()) return 0;
    std::printf("(display sets per CPU second, median of %d repetitions of about %.2f s of CPU each: FFmpeg's\n"
                " avcodec_decode_subtitle2; this decoder alone; decoding and composing onto a 32-bit display that\n"
                " keeps nothing, scaling included; and drawing through the framebuffer device into the emulated\n"
                " framebuffer (0: none). The sides take turns, one repetition each per round. Ratios against\n"
                " FFmpeg: of the medians, and the lowest and highest of the rounds' own ratios.)\n",
                options.repetitions, options.seconds);
    return 0;
}
