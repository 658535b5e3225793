// tekoctl drives the daemon where no front-end plugin does: it writes the
// files the daemon watches, at the daemon's own fixed paths (resolved
// through the platform layer, so tests can root them).
#pragma once

#include <string>

// The one line printed for bad arguments.
extern const char kTekoCtlUsage[];

// Runs one command line (argv[0] is the program name) and returns the exit
// status: 0 done, 1 a file could not be written or removed (with a message
// on standard error), 2 bad arguments (with the usage line).
int TekoCtlMain(int argc, const char* const* argv);

// Writes the seven hand-off lines atomically: a temporary file in the same
// folder is written completely, then renamed over the hand-off file, so the
// daemon reads either the old service or the new one, never half of one.
// Empty on success, else what went wrong.
std::string WriteHandOff(const int (&values)[7]);
