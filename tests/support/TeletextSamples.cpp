#include "TeletextSamples.h"

#include <fstream>
#include <iterator>

#ifndef TEKO_SAMPLES_DIR
#define TEKO_SAMPLES_DIR ""
#endif

namespace ttx {

const std::vector<SamplePage>& SamplePages() {
    static const std::vector<SamplePage> pages = {
        {"tsduck-test-012.ts", 0x42C, 0x889, "fre", true},
        {"tsduck-test-012.ts", 0x42C, 0x888, "fre", true},
        {"tsduck-test-108.ts", 0x241, 0x777, "ita", true},
        {"subtitleedit-sample_TS_with_teletext.ts", 0x13F0, 0x150, "ger", true},
        {"subtitleedit-sample_TS_with_teletext.ts", 0x13F0, 0x799, "dan", true},
        {"tsduck-test-143-fuzzed.ts", 0x3E, 0x888, "swe", false},
        {"tsduck-test-143-fuzzed.ts", 0x3E, 0x691, "swe", false},
        {"tsduck-test-143-fuzzed.ts", 0x3E, 0x695, "dut", false},
    };
    return pages;
}

std::string SamplePath(const char* file) {
    std::string path = std::string(TEKO_SAMPLES_DIR) + "/" + file;
    std::ifstream probe(path, std::ios::binary);
    return probe ? path : std::string();
}

namespace {

void Finish(std::vector<uint8_t>& pes, std::vector<std::vector<uint8_t>>& out) {
    if (pes.size() >= 6 && pes[0] == 0 && pes[1] == 0 && pes[2] == 1) {
        size_t declared = size_t(pes[4]) << 8 | pes[5];
        if (declared != 0 && declared + 6 < pes.size()) pes.resize(declared + 6);
        out.push_back(pes);
    }
    pes.clear();
}

}  // namespace

std::vector<std::vector<uint8_t>> ReadPesOfPid(const std::string& path, int pid) {
    std::vector<std::vector<uint8_t>> out;
    std::ifstream in(path, std::ios::binary);
    if (!in) return out;
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<uint8_t> pes;
    bool started = false;
    for (size_t at = 0; at + 188 <= data.size(); at += 188) {
        const uint8_t* p = &data[at];
        if (p[0] != 0x47 || (p[1] & 0x80)) continue;
        if ((((p[1] & 0x1F) << 8) | p[2]) != pid) continue;
        int control = (p[3] >> 4) & 3;
        if (!(control & 1)) continue;
        size_t offset = 4;
        if (control & 2) offset += 1 + size_t(p[4]);
        if (offset >= 188) continue;
        if (p[1] & 0x40) {
            if (started) Finish(pes, out);
            started = true;
        }
        if (started) pes.insert(pes.end(), p + offset, p + 188);
    }
    if (started) Finish(pes, out);
    return out;
}

}  // namespace ttx
