// The DVB subtitle captures of the shared samples, and their PES packets as
// the PES filter cuts them: the PID's payload bytes in order (the raw PES
// files are that byte stream already), split at 00 00 01 BD by
// PES_packet_length. Self-contained, so that the benchmark can use it too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvbsub {

struct DvbSample {
    const char* name;
    const char* file;     // relative to the samples folder
    int pid;              // -1: a raw PES file without TS layer
    // Standard definition (no display definition, or one of 720 x 576) with
    // something to show: compared with FFmpeg's decoder.
    bool compared;
    bool hasPsi;          // PAT and PMT in the capture
    // The display its display definition names.
    int displayWidth = 720;
    int displayHeight = 576;
};

const std::vector<DvbSample>& DvbSamples();
// Full path, or empty when the file is not there.
std::string DvbSamplePath(const DvbSample& sample);
std::vector<uint8_t> ReadBytes(const std::string& path);
// The PID's PES byte stream: TS payloads in order, adaptation fields skipped.
std::vector<uint8_t> PayloadStream(const std::vector<uint8_t>& ts, int pid);
// Complete private-stream-1 packets of a PES byte stream.
std::vector<std::vector<uint8_t>> SplitPes(const std::vector<uint8_t>& stream);
// Both steps for a sample; empty when the file is absent.
std::vector<std::vector<uint8_t>> DvbSamplePackets(const DvbSample& sample);

}  // namespace dvbsub
