#include "support/DvbSubSamples.h"

#include <fstream>
#include <iterator>

#ifndef TEKO_SAMPLES_DIR
#define TEKO_SAMPLES_DIR "../shared/samples"
#endif

namespace dvbsub {

const std::vector<DvbSample>& DvbSamples() {
    static const std::vector<DvbSample> samples = {
        {"viewts", "viewts-video_dvbSub.ts", 0xF0, true, true},
        {"graphics", "subtitleedit-sample_TS_with_graphics.ts", 0x29, true, false},
        {"uk_colours", "pes/libdvbsubdec-514000000_subtitle_pid_1631.pes", -1, true, false},
        {"uk_rollup", "pes/libdvbsubdec-490000000_subtitle_pid_205.pes", -1, true, false},
        {"hd_damaged", "pes/libdvbsubdec-tnt-uhf33-570MHz-2019-01-22_subtitle_pid_140.pes", -1, false, false, 1920, 1080},
        {"display_320x240", "subtitleedit-sample_TS_dvbsub_at_video_start.ts", 0x101, false, true, 320, 240},
        {"string_coding", "ccextractor-dvb_string_coding_sample.ts", 0x101, false, true},
    };
    return samples;
}

std::string DvbSamplePath(const DvbSample& sample) {
    std::string path = std::string(TEKO_SAMPLES_DIR) + "/" + sample.file;
    std::ifstream in(path, std::ios::binary);
    return in ? path : std::string();
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> PayloadStream(const std::vector<uint8_t>& ts, int pid) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 188 <= ts.size(); i += 188) {
        const uint8_t* p = &ts[i];
        if (p[0] != 0x47 || (((p[1] & 0x1F) << 8) | p[2]) != pid) continue;
        const int control = (p[3] >> 4) & 3;
        if (!(control & 1)) continue;
        size_t start = 4;
        if (control & 2) start += 1 + p[4];
        if (start < 188) out.insert(out.end(), p + start, p + 188);
    }
    return out;
}

std::vector<std::vector<uint8_t>> SplitPes(const std::vector<uint8_t>& s) {
    std::vector<std::vector<uint8_t>> packets;
    size_t i = 0;
    while (i + 6 <= s.size()) {
        if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1 || s[i + 3] != 0xBD) {
            ++i;
            continue;
        }
        const size_t length = size_t((s[i + 4] << 8) | s[i + 5]) + 6;
        if (i + length > s.size()) break;
        packets.emplace_back(s.begin() + long(i), s.begin() + long(i + length));
        i += length;
    }
    return packets;
}

std::vector<std::vector<uint8_t>> DvbSamplePackets(const DvbSample& sample) {
    const std::string path = DvbSamplePath(sample);
    if (path.empty()) return {};
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return SplitPes(sample.pid < 0 ? bytes : PayloadStream(bytes, sample.pid));
}

}  // namespace dvbsub
