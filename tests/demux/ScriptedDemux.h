// A demultiplexer whose every answer the test scripts: each Push() is what
// one read returns (a SOCK_SEQPACKET message), the clock is whatever the
// test sets, and reads are counted so that the test can wait until the
// reader thread has finished a pass and blocks in its next read.
// The machine's steady clock (SteadyMicros, for SimBackend::SetMonotonic)
// runs as `stc` is moved; `jump` shifts only the system time clock, as a
// discontinuity of the broadcast does.
#pragma once

#include <errno.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>
#include <unistd.h>

#include <poll.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

#include "SimClock.h"
#include "SimDevice.h"

class ScriptedDemux : public SimDevice {
public:
    explicit ScriptedDemux(SimClock& clock) : clock_(clock) {}
    std::atomic<int64_t> stc{0};
    std::atomic<int64_t> jump{0};
    std::atomic<bool> stcOk{true};
    std::atomic<bool> failPesFilter{false};
    std::atomic<int> readError{0};  // != 0: reads fail with this errno
    std::atomic<bool> readZero{false};
    std::atomic<int> reads{0};
    std::atomic<int> stops{0};
    std::atomic<int> open{0};
    dmx_pes_filter_params params{};

    ~ScriptedDemux() override {
        if (reader_ >= 0) ::close(reader_);
        if (writer_ >= 0) ::close(writer_);
    }
    int Open(int) override {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return -1;
        reader_ = pair[0];
        writer_ = pair[1];
        ++open;
        return reader_;
    }
    bool Owns(int fd) const override { return fd >= 0 && fd == reader_; }
    int Close(int fd) override {
        ::close(writer_);
        writer_ = reader_ = -1;
        --open;
        return ::close(fd);
    }
    int Ioctl(int, unsigned long request, void* arg) override {
        if (request == DMX_SET_PES_FILTER) {
            if (failPesFilter) return errno = EINVAL, -1;
            std::memcpy(&params, arg, sizeof params);
            return 0;
        }
        if (request == DMX_GET_STC) {
            if (!stcOk) return errno = EINVAL, -1;
            auto* record = static_cast<dmx_stc*>(arg);
            record->base = 1;
            record->stc = uint64_t(stc.load() + jump.load()) & ((uint64_t(1) << 33) - 1);
            return 0;
        }
        if (request == DMX_STOP) ++stops;
        return 0;
    }
    ssize_t Read(int fd, void* buf, size_t count) override {
        clock_.Yield();
        ++reads;
        if (int e = readError.load()) return errno = e, -1;
        if (readZero) return 0;
        const std::function<bool()> readable = [fd] {
            pollfd p{fd, POLLIN, 0};
            return ::poll(&p, 1, 0) != 0;
        };
        if (!readable()) clock_.Wait(readable, SimClock::kNever, "a scripted read");
        return ::read(fd, buf, count);
    }
    // A wait for data that ends a pass as a read does, so it is counted
    // with the reads.
    int Poll(int fd, int64_t timeoutMicros) override {
        ++reads;
        const std::function<bool()> readable = [this, fd] {
            pollfd p{fd, POLLIN, 0};
            return readError.load() != 0 || readZero.load() || ::poll(&p, 1, 0) != 0;
        };
        if (readable()) return 1;
        return clock_.Wait(readable, clock_.NowMicros() + timeoutMicros, "a scripted poll") ? 1 : 0;
    }
    // Microseconds the steady clock ran: every move of `stc` (modulo the
    // 33-bit period, the shorter way) counted as that much steady time.
    int64_t SteadyMicros() {
        std::lock_guard<std::mutex> lock(steadyMutex_);
        const int64_t period = int64_t(1) << 33;
        const int64_t now = stc.load();
        int64_t step = ((now - steadyLast_) % period + period) % period;
        if (step > period / 2) step -= period;
        steadyTicks_ += step;
        steadyLast_ = now;
        return steadyTicks_ * 1000 / 90;
    }
    // One read's worth of bytes (at most 188 are read at a time).
    // A full socket waits for the reader, as a writer would block.
    void Push(const std::vector<uint8_t>& bytes) {
        const int fd = writer_;
        const std::function<bool()> writable = [fd] {
            pollfd p{fd, POLLOUT, 0};
            return ::poll(&p, 1, 0) != 0;
        };
        while (::send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT) < 0 && errno == EAGAIN)
            clock_.Wait(writable, SimClock::kNever, "room in the scripted socket");
    }
    // Waits until the reader has entered `count` reads in all.
    bool WaitReads(int count, int timeoutMs = 5000) {
        const std::function<bool()> done = [this, count] { return reads.load() >= count; };
        return clock_.Wait(done, clock_.NowMicros() + int64_t(timeoutMs) * 1000, "the reader's reads");
    }
    // Pushes the bytes and waits until the reader thread has handled them.
    bool Feed(const std::vector<uint8_t>& bytes) {
        int before = reads.load();
        Push(bytes);
        return WaitReads(before + 1);
    }

private:
    SimClock& clock_;
    std::mutex steadyMutex_;
    int64_t steadyLast_ = 0;
    int64_t steadyTicks_ = 0;
    int reader_ = -1;
    int writer_ = -1;
};
