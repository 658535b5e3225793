// The Teletext streams of the shared sample captures, and a plain reader
// that cuts the PES packets of one PID out of a transport-stream file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ttx {

struct SamplePage {
    const char* file;      // under TEKO_SAMPLES_DIR
    int pid;
    int page;              // as the daemon stores it (magazine 0 is 8)
    const char* language;  // the translation table to draw it with
    bool clean;            // false: a damaged capture, robustness only
};

// Every Teletext subtitle page listed in the samples' README.
const std::vector<SamplePage>& SamplePages();

// The PES packets of `pid`, in file order, each from its start code to the
// end of what the TS carried for it (cut to PES_packet_length when that is
// set). Packets with transport errors and without payload are skipped; an
// unreadable file gives nothing.
std::vector<std::vector<uint8_t>> ReadPesOfPid(const std::string& path, int pid);

// The sample path, or "" when the samples are not there.
std::string SamplePath(const char* file);

}  // namespace ttx
