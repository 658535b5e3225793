// The streams of the end-to-end suite: every stream of data/samples and,
// when present, of the shared samples, with the service and the "Language"
// that select its subtitles and what a viewer must see. Streams without
// PSI, and raw PES files, are wrapped into a transport stream with PAT, PMT
// and PCR first. For each played stream the subtitle PID's PES packets are
// listed with the stream time at which their last TS packet arrives in the
// replay (the simulator's own replay time line).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/TsBuilder.h"

namespace e2e {

enum class Kind { kDvb, kTeletext };

struct StreamCase {
    const char* name;
    const char* file;     // under the shared samples; "demo.ts" is data/samples/demo.ts
    int sourcePid;        // a TS without PSI: its PID is wrapped; -2: a raw PES file; -1: played as it is
    Kind kind;
    int service;
    const char* language;  // the configuration's "Language"
    int pid;               // subtitle PID in the played stream
    int page;              // Teletext page (magazine 0 as 8), or the DVB composition page
    int subtitles;         // subtitles in the whole stream (display sets with something, or pages)
    bool reference;        // compared with FFmpeg (DVB) or libzvbi (Teletext)
    bool erase;            // Teletext: every page header clears (erase bit set)
    std::vector<ts::TeletextEntry> teletext;  // descriptor when wrapped
    int seconds = 0;  // stream time to replay; 0: all of it
    // A capture whose tables come once is played as the broadcast it came
    // from, which repeats them: this many copies, each padded with null
    // packets to 100 packets (100 ms at the pace of a capture without PCR).
    int copies = 0;
};

const std::vector<StreamCase>& Cases();
bool Bundled(const StreamCase& c);
// The file, or "" when it is not there.
std::string SourcePath(const StreamCase& c);

struct Pes {
    std::vector<uint8_t> bytes;
    size_t firstPacket = 0;
    int64_t firstUs = 0;  // arrival of its first and last TS packets
    int64_t lastUs = 0;
    // When the daemon presents it: when the stream's clock reaches its PTS,
    // or on arrival (no PTS, a PTS already past or over 10 s off the clock).
    int64_t dueUs = 0;
};

struct Played {
    std::string path;  // the TS tekod-sim replays
    std::vector<Pes> pes;
    int64_t pmtUs = -1;    // first arrival of the service's PMT
    int64_t durationUs = 0;
};

// Writes the played stream into `dir` when it has to be wrapped.
bool Prepare(const StreamCase& c, const std::string& dir, Played& played, std::string& error);
// The PES packets of `pid` in `ts`, timed on the replay's time line.
std::vector<Pes> PesOf(const std::vector<uint8_t>& ts, int pid, int64_t* durationUs = nullptr);

}  // namespace e2e
