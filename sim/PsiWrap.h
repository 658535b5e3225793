// Gives a capture without PSI the tables a receiver needs: one PID's PES
// packets, taken out of the capture (or a raw PES file as it is), go into a
// new transport stream with a PAT and a PMT naming that PID, repeated as a
// broadcast repeats them, and a PCR derived from the PES time stamps
// (ISO/IEC 13818-1 §2.4.4; EN 300 468 for the descriptors). The simulator's
// --pid and the end-to-end suite's PSI-less captures share it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace psiwrap {

using Bytes = std::vector<uint8_t>;

// The one PMT entry of the made-up service.
struct Subtitle {
    bool teletext = false;
    std::string language;
    int type = 2;  // subtitling_type, or teletext_type
    int compositionPage = 1, ancillaryPage = 1;  // DVB
    int page = 0x888;  // Teletext, as on screen (magazine 8 sent as 0)
};
// A subtitling or teletext descriptor with that one entry.
Bytes Descriptor(const Subtitle& subtitle);

struct Layout {
    int pid = 0x100;
    int serviceId = 1;
    int pmtPid = 0x1000;
    int pcrPid = 0x101;  // may be `pid`: the PCR rides in the PES's first packets
    // Descriptors of the PES stream's PMT entry; stream_type 0x06.
    Bytes descriptors;
    // PCR runs this far behind the PTS of the packets (90 kHz).
    int64_t pcrLead = 45000;
    // PCR for packets before the first PTS, and for files without PTS.
    int64_t firstPcr = 900000;
    // The PES are spaced at least this far apart when they carry no PTS.
    int64_t spacing = 9000;
    // > 0: PAT, PMT and a PCR also this often (90 kHz) in the gaps between
    // the PES, as a broadcast repeats its tables; 0: only every 100 packets.
    int64_t psiInterval = 0;
};

// The PID's PES byte stream: TS payloads in order, adaptation fields skipped.
Bytes PayloadStream(const Bytes& ts, int pid);
// Wraps raw PES (00 00 01 xx packets back to back) into a TS: PAT and PMT
// first and every 100 packets, a PCR before each PES derived from its PTS.
Bytes WrapPes(const Bytes& rawPes, const Layout& layout);
// A PMT and PCR PID for the made-up service that `pid` does not use.
void PickPids(int pid, Layout& layout);

}  // namespace psiwrap
