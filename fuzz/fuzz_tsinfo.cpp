// The simulator's capture scan on arbitrary bytes: PAT, PMT with its
// subtitling and teletext entries, the SDT's service names, and the PES
// scan (DVB page compositions, Teletext page headers) must stay within the
// bytes they were given, and the --list text built from them too.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "StreamChoice.h"
#include "TsInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FILE* sink = fopen("/dev/null", "w");
    TsInfo info;
    std::string error;
    const std::vector<uint8_t> bytes(data, data + size);
    if (info.LoadBytes(bytes, "fuzz", error) && sink) choice::PrintList(info, "fuzz", sink);
    // The PES parsers also on the input as one whole PES packet.
    PesScan pes;
    pes.OnPes(0x100, data, size);
    return 0;
}
