// Builds transport streams for the scenario tests with the tests' stream
// builder, on a time line: every 40 ms slot holds a PCR of each service,
// PAT and every PMT each 100 ms, the PES packets scheduled in that slot, and
// null packets up to a constant count, so the replay delivers each PES at
// its slot's time.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "support/TsBuilder.h"

namespace e2e {

class TimedStream {
public:
    struct Service {
        int serviceId;
        int pmtPid;
        int pcrPid;
        std::vector<ts::EsEntry> streams;
    };
    static constexpr int kSlotMs = 40;
    static constexpr int kPacketsPerSlot = 24;

    explicit TimedStream(std::vector<Service> services) : services_(std::move(services)) {}
    // A PES on `pid` at stream time `ms` (rounded down to its slot).
    void AddPes(int64_t ms, int pid, const ts::Bytes& pes) { pes_[ms / kSlotMs].push_back({pid, pes}); }
    ts::Bytes Build(int64_t durationMs) const;

private:
    struct Scheduled {
        int pid;
        ts::Bytes pes;
    };
    std::vector<Service> services_;
    std::map<int64_t, std::vector<Scheduled>> pes_;
};

// A DVB display set of page 1 with one 200 x 20 region at (260, 500) in an
// opaque colour, and `timeoutSeconds` as its page time-out.
ts::Bytes DvbSubtitle(int version, int timeoutSeconds);
// The padding PES a broadcaster sends between display sets.
ts::Bytes PaddingPes();
// A Teletext PES with a subtitle page header of page 888 (erase set) and
// row 20 holding `text`: it completes the page the previous one started.
ts::Bytes TeletextPage(const std::string& text);

}  // namespace e2e
