// Shared pieces of the end-to-end tests: the replay speed of this build,
// the temporary folder of a test, the configuration that selects a stream.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimRun.h"
#include "support/TestBuild.h"
#include "Streams.h"

namespace e2e {

// Fast enough to keep the suite short, slow enough that the daemon's reader
// keeps the pace of the stream even on a loaded machine running two test
// programs at once (a sanitizer build runs several times slower). Stream
// time is real time times the speed, so every millisecond the machine makes
// the reader wait shows here multiplied.
// Under an emulator (a cross build) it is slower by the emulation's cost.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSpeed = 10.0 / testbuild::kSlowdown;
#else
constexpr double kSpeed = 20.0 / testbuild::kSlowdown;
#endif
// A subtitle appears when its last packet arrives, give or take one read or
// poll: the reader releases a completed packet at its next pass. This is the
// stream time allowed for that and for the daemon's own work.
constexpr int64_t kAppearMs = 500;
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
