// Shared pieces of the end-to-end tests: the replay speed of this build,
// the temporary folder of a test, the configuration that selects a stream.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimRun.h"
#include "Streams.h"

namespace e2e {

// The simulator runs in simulated time: the daemon's work costs no stream
// time, so a packet is handled at the stream time it arrives, whatever the
// machine's load. A packet is presented when the stream's clock reaches its
// PTS, or on arrival (no PTS, or one already past or off the clock): the
// reader wakes for it without data having to arrive, and a subtitle is on
// the screen at that time, to the millisecond (a box has 40 ms).
constexpr int64_t kAppearMs = 1;
// The main loop polls every half second.
constexpr int64_t kPollMs = 500;
// From the service's first PMT to the first packet decoded: the first poll,
// the PAT and PMT reads (tables every 100 ms or more), the filter start.
constexpr int64_t kStartMs = 2000;

// A temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Writes a configuration selecting `language` first into `dir`.
std::string WriteConfig(const std::string& dir, const std::string& language, const std::string& extra = "");
// Arguments of a run of the played stream at `bpp` into `out`.
std::vector<std::string> RunArgs(const std::string& ts, const std::string& out, const std::string& config,
                                 int service, int bpp);

}  // namespace e2e
