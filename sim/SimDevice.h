// An emulated device file of the simulator. Each open hands out a real file
// descriptor (so a blocking read blocks, and is a cancellation point, as on
// a box); the backend routes the calls on that descriptor back here.
#pragma once

#include <poll.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

class SimDevice {
public:
    virtual ~SimDevice() = default;
    // Returns a real descriptor, or -1 with errno set.
    virtual int Open(int flags) = 0;
    virtual bool Owns(int fd) const = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual ssize_t Read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }
    virtual int Poll(int fd, int64_t timeoutMicros) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(timeoutMicros > 0 ? (timeoutMicros + 999) / 1000 : 0));
        return ready < 0 ? -1 : ready > 0 ? 1 : 0;
    }
    virtual void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
        return MAP_FAILED;
    }
    virtual int Munmap(void* addr, size_t length) { return -1; }
};
