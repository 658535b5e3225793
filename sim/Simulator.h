// tekod-sim's run: the unchanged application object on the emulated
// demultiplexer and framebuffer, the front end played from the options,
// and the report of what a box would have shown.
#pragma once

#include <cstdint>
#include <string>

#include "SimOptions.h"

class Simulator {
public:
    explicit Simulator(const SimOptions& options) : options_(options) {}
    // Checks the stream and the service before anything starts. Returns 0,
    // or 2 with `error` set to one clear line.
    int Prepare(std::string& error);
    // Runs the daemon to the end of the stream or the duration; returns the
    // process exit status.
    int Run();

private:
    bool SetUpRoot(std::string& error);
    bool CopyFile(const std::string& from, const std::string& to, std::string& error) const;

    SimOptions options_;
    std::string root_;
    int service_ = -1;
};
