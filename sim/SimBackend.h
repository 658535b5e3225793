// The platform backend of the simulator and of the tests that run the
// daemon on emulated devices: fixed paths rooted under a folder, device
// paths answered by SimDevice objects; sleeps, threads and contended locks
// on the SimClock, whose members take turns.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "SimClock.h"
#include "SimDevice.h"
#include "platform/Platform.h"

class SimBackend : public platform::RootedBackend {
public:
    SimBackend(std::string root, SimClock& clock);

    // Answers opens of `fixedPath` (for example paths::kDemux) with `device`
    // (not owned). A device path with no device attached fails with ENOENT.
    void Attach(const std::string& fixedPath, SimDevice* device);
    // Called at every poll sleep, after the sleep, on the main thread; the
    // main loop ends when it returns false (or after RequestEnd).
    void SetPollHook(std::function<bool()> hook) { pollHook_ = std::move(hook); }
    void RequestEnd() { end_ = true; }
    int PollCount() const { return polls_; }
    SimClock& Clock() { return clock_; }

    // Fault injection on the daemon's files (the configuration, the hand-off
    // file, the font...): opens of `fixedPath` fail with `openError`, or, when
    // that is 0, the file opens and its reads fail with `readError`. Both 0
    // lifts the fault. Tests run as root, where permissions fail nothing.
    void FailFile(const std::string& fixedPath, int openError, int readError = 0);

    int Open(const char* path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t Read(int fd, void* buf, size_t count) override;
    int Poll(int fd, int64_t timeoutMicros) override;
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override;
    int Munmap(void* addr, size_t length) override;
    bool PollSleep(unsigned microseconds) override;
    void Sleep(unsigned microseconds) override;
    // The SimClock, or the source given to SetMonotonic.
    int64_t MonotonicMicros() override;
    // Tests that script the system time clock themselves script the steady
    // clock beside it.
    void SetMonotonic(std::function<int64_t()> source) { monotonic_ = std::move(source); }
    int StartThread(pthread_t* thread, platform::ThreadEntry entry, void* arg) override;
    int CancelThread(pthread_t thread) override;
    int JoinThread(pthread_t thread) override;
    // A member waits its turn for the mutex; any other thread blocks.
    void WaitMutex(platform::Mutex& mutex) override;

private:
    SimDevice* DeviceOf(int fd);

    SimClock& clock_;
    std::mutex mutex_;
    std::map<std::string, SimDevice*> devices_;
    std::map<void*, SimDevice*> mappings_;
    struct FileFault {
        int openError;
        int readError;
    };
    std::map<std::string, FileFault> fileFaults_;
    std::map<int, int> failingReads_;  // descriptor -> errno of its reads
    std::function<int64_t()> monotonic_;
    std::function<bool()> pollHook_;
    std::atomic<bool> end_{false};
    std::atomic<int> polls_{0};
};
