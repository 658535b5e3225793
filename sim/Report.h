// What the simulator shows a person: timeline.tsv (one row per screen
// change), pes.tsv (one row per PES packet handed to the decoder) and
// index.html (the screens in order, with their times and the Teletext lines
// drawn), next to the screens/ folder of PNG files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ScreenChange {
    int64_t streamMs = 0;
    int blit = 0;
    int firstRow = 0;
    int lastRow = 0;
    std::string png;             // file name inside screens/
    std::vector<std::string> lines;  // Teletext lines drawn for this change, UTF-8 as shown
    int64_t logBytes = 0;        // size of log.txt at the blit: lines the screen up with the log
    int64_t pesHanded = 0;       // PES packets handed to the decoder before the blit
    std::vector<int> rows;       // Teletext row (1 to 23) of each line
};

// A PES packet as the daemon's filter handed it to the decoder.
struct HandedPes {
    int64_t streamMs = 0;
    int streamId = 0;
    int bytes = 0;
};

class Report {
public:
    explicit Report(std::string outDir);
    ~Report();
    bool Open();
    void Add(const ScreenChange& change);
    void AddPes(const HandedPes& pes);
    bool WriteIndex(const std::string& title) const;
    const std::vector<ScreenChange>& Changes() const { return changes_; }

private:
    std::string outDir_;
    FILE* timeline_ = nullptr;
    FILE* pes_ = nullptr;
    std::vector<ScreenChange> changes_;
};
