#include "SimBackend.h"

#include <errno.h>
#include <fcntl.h>

SimBackend::SimBackend(std::string root, SimClock& clock)
    : platform::RootedBackend(std::move(root)), clock_(clock) {}

void SimBackend::Attach(const std::string& fixedPath, SimDevice* device) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_[fixedPath] = device;
}

SimDevice* SimBackend::DeviceOf(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : devices_) {
        if (entry.second && entry.second->Owns(fd)) return entry.second;
    }
    return nullptr;
}

int SimBackend::Open(const char* path, int flags) {
    std::string p(path);
    SimDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = devices_.find(p);
        if (it != devices_.end()) device = it->second;
    }
    if (device) return device->Open(flags);
    if (p.compare(0, 5, "/dev/") == 0) {
        errno = ENOENT;
        return -1;
    }
    FileFault fault{0, 0};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = fileFaults_.find(p);
        if (it != fileFaults_.end()) fault = it->second;
    }
    if (fault.openError) {
        errno = fault.openError;
        return -1;
    }
    const int fd = RootedBackend::Open(path, flags);
    if (fd >= 0 && fault.readError) {
        std::lock_guard<std::mutex> lock(mutex_);
        failingReads_[fd] = fault.readError;
    }
    return fd;
}

void SimBackend::FailFile(const std::string& fixedPath, int openError, int readError) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (openError == 0 && readError == 0)
        fileFaults_.erase(fixedPath);
    else
        fileFaults_[fixedPath] = FileFault{openError, readError};
}

int SimBackend::Close(int fd) {
    if (SimDevice* device = DeviceOf(fd)) return device->Close(fd);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failingReads_.erase(fd);
    }
    return RootedBackend::Close(fd);
}

int SimBackend::Ioctl(int fd, unsigned long request, void* arg) {
    if (SimDevice* device = DeviceOf(fd)) return device->Ioctl(fd, request, arg);
    return RootedBackend::Ioctl(fd, request, arg);
}

ssize_t SimBackend::Read(int fd, void* buf, size_t count) {
    if (SimDevice* device = DeviceOf(fd)) return device->Read(fd, buf, count);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = failingReads_.find(fd);
        if (it != failingReads_.end()) {
            errno = it->second;
            return -1;
        }
    }
    return RootedBackend::Read(fd, buf, count);
}

int SimBackend::Poll(int fd, int64_t timeoutMicros) {
    if (SimDevice* device = DeviceOf(fd)) return device->Poll(fd, timeoutMicros);
    return RootedBackend::Poll(fd, timeoutMicros);
}

void* SimBackend::Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    SimDevice* device = DeviceOf(fd);
    if (!device) return RootedBackend::Mmap(length, prot, flags, fd, offset);
    void* addr = device->Mmap(length, prot, flags, fd, offset);
    if (addr != MAP_FAILED) {
        std::lock_guard<std::mutex> lock(mutex_);
        mappings_[addr] = device;
    }
    return addr;
}

int SimBackend::Munmap(void* addr, size_t length) {
    SimDevice* device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = mappings_.find(addr);
        if (it != mappings_.end()) {
            device = it->second;
            mappings_.erase(it);
        }
    }
    if (device) return device->Munmap(addr, length);
    return RootedBackend::Munmap(addr, length);
}

bool SimBackend::PollSleep(unsigned microseconds) {
    clock_.SleepMicros(microseconds);
    ++polls_;
    if (pollHook_ && !pollHook_()) end_ = true;
    return !end_;
}

void SimBackend::Sleep(unsigned microseconds) { clock_.SleepMicros(microseconds); }

int SimBackend::StartThread(pthread_t* thread, platform::ThreadEntry entry, void* arg) {
    return clock_.StartThread(thread, entry, arg, "reader thread");
}

int SimBackend::CancelThread(pthread_t thread) { return clock_.CancelThread(thread); }
int SimBackend::JoinThread(pthread_t thread) { return clock_.JoinThread(thread); }

void SimBackend::WaitMutex(platform::Mutex& mutex) {
    if (!clock_.IsMember()) return mutex.LockBlocking();
    const std::function<bool()> free = [&mutex] { return !mutex.Held(); };
    do {
        clock_.Wait(free, SimClock::kNever, "a mutex");
    } while (!mutex.try_lock());
}

int64_t SimBackend::MonotonicMicros() { return monotonic_ ? monotonic_() : clock_.NowMicros(); }
