// A box without hardware for tests: a temporary root, a SimClock running
// `speed` times faster than real time (divided by the emulation slowdown
// in a cross build), the simulator's platform backend
// installed, and the emulated demultiplexer on "/dev/dvb/adapter0/demux0"
// replaying a capture (a file, or bytes made with ts::TsBuilder). The
// replay starts when the daemon sets its first filter.
#pragma once

#include <string>
#include <vector>

#include "EmulatedDemux.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "TsReplay.h"
#include "support/TempRoot.h"

class DemuxEnv {
public:
    explicit DemuxEnv(double speed = 20.0);
    ~DemuxEnv();
    DemuxEnv(const DemuxEnv&) = delete;
    DemuxEnv& operator=(const DemuxEnv&) = delete;

    bool LoadFile(const std::string& path);
    bool LoadBytes(const std::vector<uint8_t>& bytes);

    TempRoot root;
    SimClock clock;
    SimBackend backend;
    TsReplay replay;
    EmulatedDemux demux;
};
