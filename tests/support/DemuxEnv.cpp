#include "support/DemuxEnv.h"

#include "platform/Paths.h"

DemuxEnv::DemuxEnv() : backend(root.Path(), clock), replay(clock), demux(replay, clock) {
    backend.Attach(paths::kDemux, &demux);
    platform::Install(&backend);
}

DemuxEnv::~DemuxEnv() {
    if (&platform::Current() == &backend) platform::Install(nullptr);
}

bool DemuxEnv::LoadFile(const std::string& path) { return replay.Load(path); }

bool DemuxEnv::LoadBytes(const std::vector<uint8_t>& bytes) { return replay.LoadBytes(bytes); }

bool DemuxEnv::WaitUntil(const std::function<bool()>& done, int64_t millis) {
    return clock.Wait(done, clock.NowMicros() + millis * 1000, "the test's condition");
}
