// The one seam between the daemon and the machine it runs on.
//
// Every device call (open, ioctl, read, close, mmap, munmap on the
// demultiplexer and the framebuffer), every fixed file path and every sleep
// of the daemon goes through here. The default backend is the real Linux
// kernel with the real paths; tests and the simulator install another one
// before the application object is constructed, to root the files under a
// folder of their own, emulate the devices and run the daemon on a clock of
// their own. The daemon's threads start, end and wait for each other here
// too, so that such a clock knows when every thread is waiting.
#pragma once

#include <pthread.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class Mutex;
using ThreadEntry = void* (*)(void*);

class Backend {
public:
    virtual ~Backend();

    // Device access, with the semantics of the system calls of the same name.
    virtual int Open(const char* path, int flags);
    virtual int Close(int fd);
    virtual int Ioctl(int fd, unsigned long request, void* arg);
    virtual ssize_t Read(int fd, void* buf, size_t count);
    // Waits up to `timeoutMicros` for `fd` to be readable (data, an error or
    // the end): 1 when it is, 0 at the time-out, -1 with errno on failure.
    virtual int Poll(int fd, int64_t timeoutMicros);
    virtual void* Mmap(size_t length, int prot, int flags, int fd, off_t offset);
    virtual int Munmap(void* addr, size_t length);

    // Where a fixed absolute path of the daemon ("/etc/TEKO.conf",
    // "/tmp/TEKO.tmp", the font...) really lives.
    virtual std::string Resolve(const std::string& fixedPath);
    virtual int Unlink(const std::string& fixedPath);
    // stat(2) of an open file, and lstat(2) of a fixed path (a link is
    // described, never followed).
    virtual int Fstat(int fd, struct stat* st);
    virtual int Lstat(const char* fixedPath, struct stat* st);

    // The main loop's poll period. Returns false when whoever drives the
    // daemon (a test, the simulator) wants the main loop to end.
    virtual bool PollSleep(unsigned microseconds);
    // Any other sleep of the daemon (the reader thread's back-off). Must be a
    // thread cancellation point, as usleep is.
    virtual void Sleep(unsigned microseconds);
    // The machine's steady clock in microseconds from an arbitrary origin:
    // it never jumps, so the demultiplexer's system time clock (which jumps
    // at every discontinuity of the broadcast) is measured against it.
    virtual int64_t MonotonicMicros();

    // The daemon's threads, with the semantics of pthread_create,
    // pthread_cancel and pthread_join (0 or an error number).
    virtual int StartThread(pthread_t* thread, ThreadEntry entry, void* arg);
    virtual int CancelThread(pthread_t thread);
    virtual int JoinThread(pthread_t thread);
    // Called when `mutex` is held by another thread: returns once the
    // calling thread holds it.
    virtual void WaitMutex(Mutex& mutex);
};

// Installs a backend (not owned; it must outlive its use). nullptr restores
// the kernel backend. Install before the application object is constructed
// and not while a reader thread runs.
void Install(Backend* backend);
Backend& Current();

inline int Open(const char* path, int flags) { return Current().Open(path, flags); }
inline int Close(int fd) { return Current().Close(fd); }
inline int Ioctl(int fd, unsigned long request, void* arg) { return Current().Ioctl(fd, request, arg); }
inline ssize_t Read(int fd, void* buf, size_t count) { return Current().Read(fd, buf, count); }
inline int Poll(int fd, int64_t timeoutMicros) { return Current().Poll(fd, timeoutMicros); }
inline void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    return Current().Mmap(length, prot, flags, fd, offset);
}
inline int Munmap(void* addr, size_t length) { return Current().Munmap(addr, length); }
inline std::string Resolve(const std::string& fixedPath) { return Current().Resolve(fixedPath); }
inline int Unlink(const std::string& fixedPath) { return Current().Unlink(fixedPath); }
inline bool PollSleep(unsigned microseconds) { return Current().PollSleep(microseconds); }
inline void Sleep(unsigned microseconds) { Current().Sleep(microseconds); }
inline int64_t MonotonicMicros() { return Current().MonotonicMicros(); }
inline int StartThread(pthread_t* thread, ThreadEntry entry, void* arg) {
    return Current().StartThread(thread, entry, arg);
}
inline int CancelThread(pthread_t thread) { return Current().CancelThread(thread); }
inline int JoinThread(pthread_t thread) { return Current().JoinThread(thread); }

// A mutex of the daemon whose contended wait goes through the backend.
// Usable with std::lock_guard. Lock tells a relock by the holder (EDEADLK)
// and Unlock an unlock by another thread (EPERM) instead of hanging or
// breaking the lock, as an error-checking mutex does.
class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    int Lock();
    int Unlock();
    void lock() { Lock(); }
    void unlock() { Unlock(); }
    bool try_lock();
    bool Held() const { return held_.load(); }

    // For backends: the kernel's blocking lock of the underlying mutex.
    void LockBlocking();

private:
    void Own();
    pthread_mutex_t mutex_;
    std::atomic<bool> held_{false};
    std::atomic<pthread_t> owner_{};
};

// A backend that keeps the kernel's devices but roots every fixed path under
// a folder: "/etc/TEKO.conf" becomes root + "/etc/TEKO.conf". Tests use it
// (and derive from it) so that nothing touches the real /etc, /tmp or /dev.
class RootedBackend : public Backend {
public:
    explicit RootedBackend(std::string root) : root_(std::move(root)) {}
    std::string Resolve(const std::string& fixedPath) override;
    int Open(const char* path, int flags) override;
    const std::string& Root() const { return root_; }

private:
    std::string root_;
};

}  // namespace platform
