// Every Teletext PES packet of the sample captures through our client's
// Receive (drawing with FreeType into the emulated framebuffer) and through
// libzvbi's DVB demultiplexer and page decoder, both rates and their ratio
// from the same run; and the time from a page's completing header to its
// last blit.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "EmulatedFrameBuffer.h"
#include "Medians.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "config/Settings.h"
#include "config/Translator.h"
#include "display/FrameBufferDevice.h"
#include "platform/Paths.h"
#include "render/Presenter.h"
#include "support/TeletextBuilder.h"
#include "support/TeletextSamples.h"
#include "teletext/TXTSubtitle.h"

#ifdef TEKO_HAVE_ZVBI
#include <libzvbi.h>
#endif

namespace {

struct Stream {
    std::string name;
    int page;
    std::vector<std::vector<uint8_t>> packets;
};

// Every Teletext PID of the captures, with the subtitle page to assemble.
const std::vector<Stream>& Streams() {
    static std::vector<Stream> streams = [] {
        struct {
            const char* file;
            int pid, page;
        } list[] = {{"tsduck-test-012.ts", 0x42C, 0x889},
                    {"tsduck-test-108.ts", 0x240, 0x777},
                    {"tsduck-test-108.ts", 0x241, 0x777},
                    {"tsduck-test-108.ts", 0x242, 0x777},
                    {"tsduck-test-108.ts", 0x257, 0x777},
                    {"subtitleedit-sample_TS_with_teletext.ts", 0x13F0, 0x150},
                    {"subtitleedit-sample_TS_with_teletext.ts", 0x13F0, 0x799},
                    {"tsduck-test-143-fuzzed.ts", 0x3E, 0x691}};
        std::vector<Stream> out;
        for (const auto& s : list) {
            std::string path = ttx::SamplePath(s.file);
            if (!path.empty()) out.push_back({s.file, s.page, ttx::ReadPesOfPid(path, s.pid)});
        }
        return out;
    }();
    return streams;
}

void Totals(size_t& packets, size_t& bytes) {
    packets = bytes = 0;
    for (const auto& s : Streams())
        for (const auto& p : s.packets) ++packets, bytes += p.size();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A framebuffer device on the emulated framebuffer, with DejaVu Sans as the
// box font, and a client started with the default settings.
class Rig {
public:
    Rig() : root_(MakeRoot()), backend_(root_, clock_) {
        platform::Install(&backend_);
        backend_.Attach(paths::kFrameBuffer, &fb_);
        translator.SelectCountryCode("ger");
        device.Create(paths::kDefaultFont);
        presenter.teletext.Start(&device, config::ReadOptions(settings).teletext, 4);
        txt.sink = &presenter;
    }
    ~Rig() {
        device.Destroy();
        platform::Install(nullptr);
        std::string cmd = "rm -rf '" + root_ + "'";
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", root_.c_str());
    }

    Settings settings;
    Translator translator;
    FrameBufferDevice device;
    render::Presenter presenter;
    TXTSubtitle txt;

private:
    static std::string MakeRoot() {
        char folder[] = "/tmp/bench_teletext.XXXXXX";
        std::string root = mkdtemp(folder) ? folder : "/tmp";
        std::string cmd = "mkdir -p '" + root + "/etc' '" + root + "/usr/share/fonts'";
        if (std::system(cmd.c_str()) != 0) return root;
        std::ofstream(root + paths::kDefaultFont, std::ios::binary)
            << ReadAll("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
        std::ofstream(root + paths::kTranslation, std::ios::binary)
            << ReadAll(TEKO_SOURCE_DIR "/data/TEKO.translation");
        return root;
    }
    std::string root_;
    SimClock clock_;
    SimBackend backend_;
    EmulatedFrameBuffer fb_;
};

void Receive(TXTSubtitle& txt, const std::vector<uint8_t>& pes) {
    PESPacket p;
    p.data = const_cast<uint8_t*>(pes.data());
    p.size = int(pes.size());
    txt.Receive(p);
}

void BM_TekoReceive(benchmark::State& state) {
    size_t packets, bytes;
    Totals(packets, bytes);
    if (packets == 0) return state.SkipWithError("no sample captures");
    Rig rig;
    for (auto _ : state) {
        for (const auto& s : Streams()) {
            rig.txt.Start(s.page, rig.translator.Set());
            for (const auto& p : s.packets) Receive(rig.txt, p);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations() * packets));
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}
BENCHMARK(BM_TekoReceive)->Unit(benchmark::kMillisecond);

// The same without a display: reception, assembly and extraction alone,
// the part that does what libzvbi does.
void BM_TekoAssembleOnly(benchmark::State& state) {
    size_t packets, bytes;
    Totals(packets, bytes);
    if (packets == 0) return state.SkipWithError("no sample captures");
    TXTSubtitle txt;
    for (auto _ : state) {
        for (const auto& s : Streams()) {
            txt.Start(s.page);
            for (const auto& p : s.packets) Receive(txt, p);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations() * packets));
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}
BENCHMARK(BM_TekoAssembleOnly)->Unit(benchmark::kMillisecond);

#ifdef TEKO_HAVE_ZVBI
struct Zvbi {
    vbi_decoder* decoder = vbi_decoder_new();
    vbi_dvb_demux* demux = nullptr;
    int page = 0;
    double time = 0;
    long fetched = 0;
};

void OnPage(vbi_event* event, void* user) {
    auto* z = static_cast<Zvbi*>(user);
    if (event->ev.ttx_page.pgno != z->page) return;
    vbi_page pg;
    if (vbi_fetch_vt_page(z->decoder, &pg, z->page, VBI_ANY_SUBNO, VBI_WST_LEVEL_2p5, 25, 0)) {
        ++z->fetched;
        vbi_unref_page(&pg);
    }
}

vbi_bool OnSliced(vbi_dvb_demux*, void* user, const vbi_sliced* sliced, unsigned int count, int64_t) {
    auto* z = static_cast<Zvbi*>(user);
    z->time += 0.04;
    vbi_decode(z->decoder, const_cast<vbi_sliced*>(sliced), int(count), z->time);
    return TRUE;
}

void BM_LibzvbiDecode(benchmark::State& state) {
    size_t packets, bytes;
    Totals(packets, bytes);
    if (packets == 0) return state.SkipWithError("no sample captures");
    Zvbi z;
    vbi_event_handler_register(z.decoder, VBI_EVENT_TTX_PAGE, OnPage, &z);
    z.demux = vbi_dvb_pes_demux_new(OnSliced, &z);
    for (auto _ : state) {
        for (const auto& s : Streams()) {
            z.page = s.page;
            vbi_dvb_demux_reset(z.demux);
            for (const auto& p : s.packets) vbi_dvb_demux_feed(z.demux, p.data(), unsigned(p.size()));
        }
    }
    benchmark::DoNotOptimize(z.fetched);
    vbi_dvb_demux_delete(z.demux);
    vbi_decoder_delete(z.decoder);
    state.SetItemsProcessed(int64_t(state.iterations() * packets));
    state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}
BENCHMARK(BM_LibzvbiDecode)->Unit(benchmark::kMillisecond);
#endif

// The two-line page 150 (rows 20 and 22, erase flag set, as broadcast) is
// received untimed; then the PES with the header that completes it is
// timed: extraction, two lines drawn (measure, back buffer, box, eight
// outline copies, text, blit) and their two FBIO_BLIT requests.
void BM_PageCompletionToLastBlit(benchmark::State& state) {
    Rig rig;
    rig.txt.Start(0x150);
    ttx::Header page;
    page.magazine = 1;
    page.page = 0x50;
    page.erase = true;
    ttx::Header other;
    other.magazine = 2;
    other.page = 0x00;
    auto rows = ttx::Pes({ttx::DataUnit(ttx::HeaderPacket(page)),
                          ttx::DataUnit(ttx::RowPacket(1, 20, ttx::SubtitleRow("F}r diese Klassenstufe ist er nicht"))),
                          ttx::DataUnit(ttx::RowPacket(1, 22, ttx::SubtitleRow("geeignet. Stufen Sie ihn zur}ck!")))});
    auto completion = ttx::Pes({ttx::DataUnit(ttx::HeaderPacket(other))});
    for (auto _ : state) {
        state.PauseTiming();
        Receive(rig.txt, rows);
        state.ResumeTiming();
        Receive(rig.txt, completion);
    }
}
BENCHMARK(BM_PageCompletionToLastBlit)->Unit(benchmark::kMicrosecond);

// What the emulated FBIO_BLIT itself costs (it compares the whole screen
// with its copy to find the changed rows): part of the figure above that a
// box's driver does not spend in this way.
void BM_EmulatedBlitOnly(benchmark::State& state) {
    Rig rig;
    for (auto _ : state) {
        rig.device.Lock();
        rig.device.UnLock();
    }
}
BENCHMARK(BM_EmulatedBlitOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // Five runs of each unless told otherwise: the ratios use their medians.
    bench::InitializeWithFiveRuns(&argc, argv);
    // The client logs every line it draws; the log goes nowhere here, so
    // that both decoders are timed on their work alone.
    if (!std::freopen("/dev/null", "w", stderr)) return 1;
    size_t packets, bytes;
    Totals(packets, bytes);
    std::printf("%zu Teletext PES packets, %zu bytes, in %zu streams\n", packets, bytes, Streams().size());
    bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // Median CPU time per pass (milliseconds): the machine may be shared,
    // and neither side waits for anything.
    auto rate = [&](const char* name, const char* label) {
        double ms = reporter.Median(name);
        if (ms <= 0) return 0.0;
        double seconds = ms * 1e-3;
        std::printf("%-34s %9.0f PES/s %8.2f MB/s\n", label, packets / seconds, bytes / seconds / 1e6);
        return seconds;
    };
    double drawn = rate("BM_TekoReceive", "TEKO Receive, drawing:");
    double assembled = rate("BM_TekoAssembleOnly", "TEKO Receive, no display:");
    double zvbi = rate("BM_LibzvbiDecode", "libzvbi demux + decoder:");
    if (drawn > 0 && zvbi > 0) std::printf("ratio TEKO drawing / libzvbi:     %.3f (rate, medians)\n", zvbi / drawn);
    if (assembled > 0 && zvbi > 0)
        std::printf("ratio TEKO no display / libzvbi:  %.3f (rate, medians)\n", zvbi / assembled);
    benchmark::Shutdown();
    return 0;
}
