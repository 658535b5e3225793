// Signals and the one-instance lock of the daemon. A handler only notes
// what was asked; the main loop takes the request after its poll sleep, so
// that the work runs on the main thread (and on a simulator's clock).
#pragma once

namespace platform {

// TERM and INT ask the daemon to stop, HUP to reload its configuration.
void InstallSignalHandlers();
// Notes `signal` as its handler does; the simulator raises signals so.
void RaiseSignal(int signal);
// The stop request's signal (0: none), and whether a reload was asked;
// each request is taken once.
int TakeStopSignal();
bool TakeReloadRequest();
// "SIGTERM" and so on.
const char* SignalName(int signal);

// Locks the pid file (opened without following a link) for the life of the
// process and writes this process's pid in it: 0 done; 1 another process
// holds it (`holder` its pid, 0 unknown); -1 with errno when the file
// cannot be had at all.
int LockPidFile(const char* fixedPath, int& holder);

}  // namespace platform
