// The PES splitter and queue on arbitrary byte streams cut into arbitrary
// reads: every packet handed out must be whole (start code, stream id 0xBD,
// size = PES_packet_length + 6) and nothing may be read or written outside
// a buffer. The first byte chooses the read sizes.
#include <cstdint>
#include <cstdlib>

#include "demux/PESFilter.h"
#include "platform/Platform.h"

namespace {
struct CheckingUser : PESFilterUser {
    int Receive(const PESPacket& p) override {
        if (p.size < 6 || p.data[0] != 0 || p.data[1] != 0 || p.data[2] != 1 || p.data[3] != 0xBD ||
            p.size != ((p.data[4] << 8) | p.data[5]) + 6)
            abort();
        unsigned sum = 0;
        for (int i = 0; i < p.size; ++i) sum += p.data[i];
        return int(sum & 0x3);
    }
    int Sync(int64_t&) override { return 0; }
};

PESFilter& Filter() {
    static CheckingUser user;
    static PESFilter* filter = [] {
        // No demultiplexer (paths under a folder that does not exist):
        // Start only records the user.
        platform::Install(new platform::RootedBackend("/nonexistent-teko-fuzz-root"));
        auto* f = new PESFilter;
        f->Start(0x100, user, 0, false);
        return f;
    }();
    return *filter;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PESFilter& filter = Filter();
    filter.ResetSplitter();
    if (size == 0) return 0;
    size_t pattern = data[0];
    size_t pos = 1;
    for (int read = 0; pos < size; ++read) {
        size_t chunk = 1 + ((pattern * 31 + size_t(read) * 17) % 188);
        if (chunk > size - pos) chunk = size - pos;
        filter.Feed(data + pos, int(chunk));
        filter.processQueue();
        pos += chunk;
    }
    while (filter.QueuedPackets() > 0) filter.processQueue();
    return 0;
}
