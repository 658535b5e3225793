// tekod-sim's run: the unchanged application object on the emulated
// demultiplexer and framebuffer, the front end played from the options,
// and the report of what a box would have shown.
#pragma once

#include <cstdint>
#include <string>

#include "SimOptions.h"
#include "TsInfo.h"

class Simulator {
public:
    explicit Simulator(const SimOptions& options) : options_(options) {}
    // Checks the stream and the service before anything starts. Returns 0,
    // or 2 with `error` set to one clear line.
    int Prepare(std::string& error);
    // Runs the daemon to the end of the stream or the duration; returns the
    // process exit status.
    int Run();
    // --list: prints what the capture carries; returns the exit status.
    static int List(const SimOptions& options);

private:
    bool SetUpRoot(std::string& error);
    bool CopyFile(const std::string& from, const std::string& to, std::string& error) const;
    // The parts of Prepare in SimSetup.cpp. --pid: writes the wrapped
    // capture to DIR/wrapped.ts, plays it, and loads `info` from it.
    bool WrapPid(TsInfo& info, std::string& error);
    // A capture without PAT played without --pid: why, and what it carries.
    std::string NoPat(const TsInfo& info) const;
    // --language and --type into the root's copy of the configuration.
    bool WriteChoice(std::string& error) const;
    // Prints a warning when the configured choice finds no subtitles on
    // `service` of `info`; returns 0.
    int CheckChoice(const TsInfo& info, const TsService& service, std::string& error) const;
    std::string ConfigInUse() const;

    SimOptions options_;
    std::string root_;
    int service_ = -1;
    std::string played_;  // the capture replayed: --ts, or its wrapped form
};
