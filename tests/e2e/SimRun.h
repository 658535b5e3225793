// Runs the tekod-sim program as a separate process and reads what it wrote:
// its exit status and standard streams, DIR/timeline.tsv, DIR/pes.tsv,
// DIR/log.txt and the raw screens of --raw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/DvbReference.h"

namespace e2e {

struct Change {
    int64_t ms = 0;  // stream time of the blit
    int blit = 0;
    int firstRow = 0, lastRow = 0;
    std::string png;
    std::string text;  // Teletext lines, " | " between them
    int64_t logBytes = 0;  // size of log.txt at the blit
    size_t pes = 0;        // PES packets handed to the decoder before the blit
    std::vector<int> rows;  // Teletext row of each line of `text`
};

// A PES packet the daemon's filter handed to its decoder.
struct Handed {
    int64_t ms = 0;  // stream time
    int streamId = 0;
    size_t bytes = 0;
};

struct SimResult {
    int status = -1;
    std::string out, err;  // standard output and error
    std::string dir;
    std::vector<Change> changes;
    std::vector<Handed> handed;
    std::string log;
    bool Ran() const { return status == 0; }
};

// The tekod-sim program of this build.
std::string SimBinary();
// Runs tekod-sim with `args`; when `outDir` is not empty it is --out and
// its timeline, packets and log are read afterwards.
SimResult RunSim(const std::vector<std::string>& args, const std::string& outDir);
// The demo as scripts/demo.sh plays it (its configuration, service 1, the
// zap at 33 s), quiet, with `extra` after those words (a later word wins),
// into `outDir`; a run that fails is a test failure.
SimResult RunDemo(const std::string& outDir, const std::vector<std::string>& extra);
// The raw screen of a change (--raw), width x height pixels (the run's
// --size); empty if absent.
dvbref::Screen ReadScreen(const std::string& dir, const Change& change, int bitsPerPixel, int width = dvbref::kWidth,
                          int height = dvbref::kHeight);
// Removes a folder and everything under it.
void RemoveTree(const std::string& dir);
std::string ReadText(const std::string& path);
bool WriteText(const std::string& path, const std::string& text);

}  // namespace e2e
