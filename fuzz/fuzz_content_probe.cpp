// The stream probe's splitter and its DVB and Teletext looks on arbitrary
// byte streams cut into arbitrary reads (the PES splitter's seeds): nothing
// may be read or written outside a buffer. The first byte chooses the read
// sizes.
#include <cstdint>
#include <cstdlib>

#include "app/ContentProbe.h"
#include "platform/Platform.h"

namespace {
// No demultiplexer (paths under a folder that does not exist): a start
// fails after recording what to look for.
ContentProbe& Probe(bool dvb) {
    static ContentProbe* probes = [] {
        platform::Install(new platform::RootedBackend("/nonexistent-teko-fuzz-root"));
        auto* p = new ContentProbe[2];
        p[0].StartDvb(0x100, 1);
        p[1].StartTeletext(0x100, 0x888);
        return p;
    }();
    return probes[dvb ? 0 : 1];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t pattern = data[0];
    for (bool dvb : {true, false}) {
        ContentProbe& probe = Probe(dvb);
        probe.ResetSplitter();
        size_t pos = 1;
        for (int read = 0; pos < size; ++read) {
            size_t chunk = 1 + ((pattern * 31 + size_t(read) * 17) % 188);
            if (chunk > size - pos) chunk = size - pos;
            probe.Feed(data + pos, chunk);
            pos += chunk;
        }
        if (probe.ContentCount() < 0) abort();
    }
    return 0;
}
