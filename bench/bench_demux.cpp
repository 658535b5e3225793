// The PES splitter and queue on a real DVB subtitle PID's byte stream, read
// in 188-byte chunks as the reader thread reads the demultiplexer: each
// read is split, then the queue is served once, as in one reader pass.
//
//   bench_demux                   Google Benchmark: bytes per second
//   bench_demux --once            one pass over the stream, for
//       valgrind --tool=callgrind --toggle-collect=teko_bench_demux_pass
//   (instructions of the pass / bytes printed = instructions per byte)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "demux/PESFilter.h"
#include "platform/Platform.h"

namespace {

struct CountingUser : PESFilterUser {
    size_t packets = 0;
    size_t bytes = 0;
    int Receive(const PESPacket& p) override {
        ++packets;
        bytes += size_t(p.size);
        return 0;
    }
    int Sync(int64_t&) override { return 0; }
};

const char* kSample = TEKO_SAMPLES_DIR "/pes/libdvbsubdec-490000000_subtitle_pid_205.pes";

const std::vector<unsigned char>& Stream() {
    static const std::vector<unsigned char> bytes = [] {
        std::ifstream in(kSample, std::ios::binary);
        return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

struct Rig {
    CountingUser user;
    PESFilter filter;
    Rig() {
        // No demultiplexer: Start records the user; the clock reads fail.
        static platform::RootedBackend nowhere("/nonexistent-teko-bench-root");
        platform::Install(&nowhere);
        filter.Start(0x205, user, 0, true);
    }
};

}  // namespace

extern "C" __attribute__((noinline)) size_t teko_bench_demux_pass(PESFilter* filter, const unsigned char* data,
                                                                  size_t size) {
    for (size_t pos = 0; pos < size; pos += 188) {
        size_t n = size - pos < 188 ? size - pos : 188;
        filter->Feed(data + pos, int(n));
        filter->processQueue();
    }
    while (filter->QueuedPackets() > 0) filter->processQueue();
    return size;
}

static void BM_SplitterAndQueue(benchmark::State& state) {
    const auto& stream = Stream();
    if (stream.empty()) {
        state.SkipWithError("sample stream not found");
        return;
    }
    static Rig rig;
    size_t before = rig.user.packets;
    for (auto _ : state) {
        rig.filter.ResetSplitter();
        benchmark::DoNotOptimize(teko_bench_demux_pass(&rig.filter, stream.data(), stream.size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["packets/pass"] = double(rig.user.packets - before) / double(state.iterations());
}
BENCHMARK(BM_SplitterAndQueue)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--once") == 0) {
        const auto& stream = Stream();
        if (stream.empty()) return 1;
        static Rig rig;
        teko_bench_demux_pass(&rig.filter, stream.data(), stream.size());
        std::printf("bytes %zu packets %zu\n", stream.size(), rig.user.packets);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
