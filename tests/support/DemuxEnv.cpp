#include "support/DemuxEnv.h"

#include "platform/Paths.h"
#include "support/TestBuild.h"

// Under an emulator the daemon's code runs several times slower, so the
// replay slows down by as much to give it the same time per packet.
DemuxEnv::DemuxEnv(double speed)
    : clock(speed / testbuild::kSlowdown), backend(root.Path(), clock), replay(clock), demux(replay, clock) {
    backend.Attach(paths::kDemux, &demux);
    platform::Install(&backend);
}

DemuxEnv::~DemuxEnv() {
    if (&platform::Current() == &backend) platform::Install(nullptr);
}

bool DemuxEnv::LoadFile(const std::string& path) { return replay.Load(path); }

bool DemuxEnv::LoadBytes(const std::vector<uint8_t>& bytes) { return replay.LoadBytes(bytes); }
