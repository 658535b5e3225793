// A box without hardware for tests: a temporary root, a SimClock in
// simulated time (the test's thread and the daemon's take turns, and time
// moves only while all of them wait), the simulator's platform backend
// installed, and the emulated demultiplexer on "/dev/dvb/adapter0/demux0"
// replaying a capture (a file, or bytes made with ts::TsBuilder). The
// replay starts when the daemon sets its first filter.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "EmulatedDemux.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "TsReplay.h"
#include "support/TempRoot.h"

class DemuxEnv {
public:
    DemuxEnv();
    ~DemuxEnv();
    DemuxEnv(const DemuxEnv&) = delete;
    DemuxEnv& operator=(const DemuxEnv&) = delete;

    bool LoadFile(const std::string& path);
    bool LoadBytes(const std::vector<uint8_t>& bytes);
    // Lets the daemon's threads and the replay run until `done` holds (true)
    // or `millis` of stream time have passed (false).
    bool WaitUntil(const std::function<bool()>& done, int64_t millis);

    TempRoot root;
    SimClock clock;
    SimBackend backend;
    TsReplay replay;
    EmulatedDemux demux;
};
