#include "platform/Signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Platform.h"

namespace platform {

namespace {

// Lock-free atomics are safe in a signal handler.
std::atomic<int> stopSignal{0};
std::atomic<bool> reloadRequested{false};

void OnSignal(int signal) { RaiseSignal(signal); }

}  // namespace

void RaiseSignal(int signal) {
    if (signal == SIGHUP)
        reloadRequested.store(true);
    else if (signal == SIGTERM || signal == SIGINT)
        stopSignal.store(signal);
}

void InstallSignalHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the poll sleep ends at once and the loop sees the request.
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

int TakeStopSignal() { return stopSignal.exchange(0); }

bool TakeReloadRequest() { return reloadRequested.exchange(false); }

const char* SignalName(int signal) {
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

int LockPidFile(const char* fixedPath, int& holder) {
    holder = 0;
    const std::string path = Resolve(fixedPath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    // flock, not a record lock: closing any other descriptor of the file
    // (a reader of the pid, say) would drop a record lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            char text[16] = {};
            if (pread(fd, text, sizeof text - 1, 0) > 0) holder = std::atoi(text);
            ::close(fd);
            return 1;
        }
        ::close(fd);
        errno = error;
        return -1;
    }
    char text[24];
    const int length = std::snprintf(text, sizeof text, "%d\n", int(getpid()));
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text, size_t(length), 0) != length) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    // Kept open, and so locked, until the process ends.
    return 0;
}

}  // namespace platform
