#include "platform/Platform.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <time.h>

#include <cstdio>

namespace platform {

Backend::~Backend() = default;

int Backend::Open(const char* path, int flags) { return ::open(path, flags); }
int Backend::Close(int fd) { return ::close(fd); }
int Backend::Ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
ssize_t Backend::Read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }

int Backend::Poll(int fd, int64_t timeoutMicros) {
    pollfd p{fd, POLLIN, 0};
    // Rounded up: a wait for something due must not end before it is.
    const int64_t ms = timeoutMicros <= 0 ? 0 : (timeoutMicros + 999) / 1000;
    const int ready = ::poll(&p, 1, int(ms > INT32_MAX ? INT32_MAX : ms));
    return ready < 0 ? -1 : ready > 0 ? 1 : 0;
}

void* Backend::Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(nullptr, length, prot, flags, fd, offset);
}

int Backend::Munmap(void* addr, size_t length) { return ::munmap(addr, length); }
std::string Backend::Resolve(const std::string& fixedPath) { return fixedPath; }
int Backend::Unlink(const std::string& fixedPath) { return ::unlink(Resolve(fixedPath).c_str()); }
int Backend::Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int Backend::Lstat(const char* fixedPath, struct stat* st) { return ::lstat(Resolve(fixedPath).c_str(), st); }

bool Backend::PollSleep(unsigned microseconds) {
    ::usleep(microseconds);
    return true;
}

void Backend::Sleep(unsigned microseconds) { ::usleep(microseconds); }

int64_t Backend::MonotonicMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int Backend::StartThread(pthread_t* thread, ThreadEntry entry, void* arg) {
    return pthread_create(thread, nullptr, entry, arg);
}
int Backend::CancelThread(pthread_t thread) { return pthread_cancel(thread); }
int Backend::JoinThread(pthread_t thread) { return pthread_join(thread, nullptr); }
void Backend::WaitMutex(Mutex& mutex) { mutex.LockBlocking(); }

Mutex::Mutex() { pthread_mutex_init(&mutex_, nullptr); }
Mutex::~Mutex() { pthread_mutex_destroy(&mutex_); }

void Mutex::Own() {
    owner_ = pthread_self();
    held_ = true;
}

bool Mutex::try_lock() {
    if (pthread_mutex_trylock(&mutex_) != 0) return false;
    Own();
    return true;
}

void Mutex::LockBlocking() {
    pthread_mutex_lock(&mutex_);
    Own();
}

int Mutex::Lock() {
    // Only the holder itself can see its own id here while held.
    if (held_ && pthread_equal(owner_.load(), pthread_self())) return EDEADLK;
    if (!try_lock()) Current().WaitMutex(*this);
    return 0;
}

int Mutex::Unlock() {
    if (!held_ || !pthread_equal(owner_.load(), pthread_self())) return EPERM;
    held_ = false;
    owner_ = pthread_t();
    pthread_mutex_unlock(&mutex_);
    return 0;
}

namespace {
Backend& KernelBackend() {
    static Backend kernel;
    return kernel;
}
Backend* g_current = nullptr;
}  // namespace

void Install(Backend* backend) { g_current = backend; }
Backend& Current() { return g_current ? *g_current : KernelBackend(); }

std::string RootedBackend::Resolve(const std::string& fixedPath) {
    if (!fixedPath.empty() && fixedPath[0] == '/') return root_ + fixedPath;
    return fixedPath;
}

int RootedBackend::Open(const char* path, int flags) {
    return ::open(Resolve(path).c_str(), flags);
}

}  // namespace platform
