#include "EmulatedDemux.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/ByteReader.h"

namespace {
constexpr int kMaxPid = 0x1FFF;
constexpr int kAllPids = 0x2000;  // a PES/TS filter on every PID
}  // namespace

struct EmulatedDemux::Filter {
    enum Kind { kNone, kSection, kPes };
    enum State { kAllocated, kSet, kGo, kDone, kTimedOut };

    int fd = -1;
    bool nonBlocking = false;
    bool dead = false;  // open when the device went away
    Kind kind = kNone;
    State state = kAllocated;
    dmx_sct_filter_params sct{};
    dmx_pes_filter_params pes{};
    bool bufferAllocated = false;  // set by the first start, as in the kernel
    size_t capacity = 0;
    std::deque<uint8_t> buffer;
    int error = 0;
    int64_t deadline = 0;  // virtual µs; 0 = no time-out armed
    int todo = 0;          // section read state (dmxdev's "todo")
    uint8_t header[3] = {};
    SectionAssembler assembler;

    int Pid() const { return kind == kSection ? sct.pid : kind == kPes ? pes.pid : -1; }
};

EmulatedDemux::EmulatedDemux(TsReplay& replay, SimClock& clock) : replay_(replay), clock_(clock) {
    replay_.SetSink(this);
}

EmulatedDemux::~EmulatedDemux() {
    replay_.SetSink(nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& entry : filters_) ::close(entry.first);
}

void EmulatedDemux::SetBufferSize(size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    bufferSize_ = bytes > 0 ? bytes : kDefaultBufferSize;
}

void EmulatedDemux::SetStcAvailable(bool available) {
    std::lock_guard<std::mutex> lock(mutex_);
    stcAvailable_ = available;
}

void EmulatedDemux::RefuseIoctl(unsigned long request, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (error)
        refused_[request] = error;
    else
        refused_.erase(request);
}

void EmulatedDemux::FailReads(ReadTarget target, int error, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    readFaults_[int(target)] = ReadFault{error, error ? count : 0};
}

void EmulatedDemux::SetPresent(bool present) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (present_ && !present)
        for (auto& entry : filters_) {
            Filter& f = *entry.second;
            f.dead = true;
            f.buffer.clear();
            f.state = Filter::kAllocated;
        }
    present_ = present;
}

bool EmulatedDemux::Present() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return present_;
}

void EmulatedDemux::ShiftStc(int64_t ticks) {
    std::lock_guard<std::mutex> lock(mutex_);
    stcShift_ += ticks;
}

int EmulatedDemux::OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(filters_.size());
}

size_t EmulatedDemux::CrcDrops() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return crcDrops_;
}

size_t EmulatedDemux::Overflows() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return overflows_;
}

int EmulatedDemux::Open(int flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!present_) {
        errno = ENOENT;
        return -1;
    }
    if (int(filters_.size()) >= kMaxFilters) {
        errno = EMFILE;
        return -1;
    }
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return -1;
    auto filter = std::make_unique<Filter>();
    filter->fd = fd;
    filter->nonBlocking = (flags & O_NONBLOCK) != 0;
    filter->capacity = bufferSize_;
    filters_[fd] = std::move(filter);
    return fd;
}

bool EmulatedDemux::Owns(int fd) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return filters_.count(fd) != 0;
}

int EmulatedDemux::Close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!filters_.erase(fd)) {
        errno = EBADF;
        return -1;
    }
    return ::close(fd);
}

EmulatedDemux::Filter* EmulatedDemux::Find(int fd) const {
    auto it = filters_.find(fd);
    return it == filters_.end() ? nullptr : it->second.get();
}

int EmulatedDemux::Ioctl(int fd, unsigned long request, void* arg) {
    bool start = false;
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Filter* f = Find(fd);
        if (!f) {
            errno = EBADF;
            return -1;
        }
        if (f->dead) {
            errno = ENODEV;
            return -1;
        }
        int64_t now = clock_.NowMicros();
        auto refused = refused_.find(request);
        if (refused != refused_.end()) {
            errno = refused->second;
            return -1;
        }
        switch (request) {
        case DMX_SET_FILTER:
            result = SetSectionFilter(*f, arg);
            if (result == 0 && (f->sct.flags & DMX_IMMEDIATE_START)) StartFilter(*f, now), start = true;
            break;
        case DMX_SET_PES_FILTER:
            result = SetPesFilter(*f, arg);
            if (result == 0 && (f->pes.flags & DMX_IMMEDIATE_START)) StartFilter(*f, now), start = true;
            break;
        case DMX_START:
            if (f->state < Filter::kSet) result = EINVAL;
            else StartFilter(*f, now), start = true;
            break;
        case DMX_STOP:
            StopFilter(*f);
            break;
        case DMX_SET_BUFFER_SIZE:
            f->capacity = size_t(reinterpret_cast<uintptr_t>(arg));
            if (f->capacity == 0) f->capacity = kDefaultBufferSize;
            f->buffer.clear();
            break;
        case DMX_GET_STC:
            result = GetStc(*f, arg);
            break;
        default:
            result = ENOTTY;
        }
    }
    if (result != 0) {
        errno = result;
        return -1;
    }
    // The replay begins with the first filter that starts.
    if (start) replay_.Start();
    return 0;
}

int EmulatedDemux::SetSectionFilter(Filter& f, const void* arg) {
    if (!arg) return EFAULT;
    dmx_sct_filter_params params;
    std::memcpy(&params, arg, sizeof params);
    if (params.pid > kMaxPid) return EINVAL;
    StopFilter(f);
    f.kind = Filter::kSection;
    f.sct = params;
    f.state = Filter::kSet;
    return 0;
}

int EmulatedDemux::SetPesFilter(Filter& f, const void* arg) {
    if (!arg) return EFAULT;
    dmx_pes_filter_params params;
    std::memcpy(&params, arg, sizeof params);
    if (params.pid > kAllPids || unsigned(params.pes_type) > DMX_PES_OTHER ||
        unsigned(params.output) > DMX_OUT_TSDEMUX_TAP || unsigned(params.input) > DMX_IN_DVR)
        return EINVAL;
    StopFilter(f);
    f.kind = Filter::kPes;
    f.pes = params;
    f.state = Filter::kSet;
    return 0;
}

int EmulatedDemux::GetStc(Filter& f, void* arg) {
    if (!arg) return EFAULT;
    if (!stcAvailable_) return EINVAL;
    dmx_stc stc;
    std::memcpy(&stc, arg, sizeof stc);
    if (stc.num != 0) return EINVAL;
    stc.base = 1;
    stc.stc = uint64_t(replay_.Stc(f.Pid()) + stcShift_) & ((uint64_t(1) << 33) - 1);
    std::memcpy(arg, &stc, sizeof stc);
    return 0;
}

void EmulatedDemux::StartFilter(Filter& f, int64_t now) {
    f.bufferAllocated = true;
    f.buffer.clear();
    f.error = 0;
    f.todo = 0;
    f.assembler.Reset();
    f.state = Filter::kGo;
    f.deadline = f.kind == Filter::kSection && f.sct.timeout ? now + int64_t(f.sct.timeout) * 1000 : 0;
}

void EmulatedDemux::StopFilter(Filter& f) {
    if (f.state >= Filter::kGo) f.state = Filter::kSet;
    f.buffer.clear();
    f.error = 0;
    f.todo = 0;
    f.deadline = 0;
}

// The kernel's filter timer: no section since the start within the time-out.
void EmulatedDemux::Expire(Filter& f, int64_t now) {
    if (f.state != Filter::kGo || f.deadline == 0 || now < f.deadline) return;
    f.state = Filter::kTimedOut;
    f.deadline = 0;
    f.error = ETIMEDOUT;
}

void EmulatedDemux::Push(Filter& f, const uint8_t* data, size_t size) {
    if (f.error) return;
    if (f.buffer.size() + size > f.capacity) {
        // dvb_dmxdev_buffer_write: the reader fell behind; the data is lost
        // and the next read reports it.
        f.buffer.clear();
        f.error = EOVERFLOW;
        ++overflows_;
    } else {
        f.buffer.insert(f.buffer.end(), data, data + size);
    }
}

// dvb_demux.c: filter_value[0] is compared with table_id and the others
// with the section from byte 3 on; mask&~mode bits must be equal, and if
// any mask&mode bits are set at least one of them must differ.
bool EmulatedDemux::Matches(const Filter& f, const uint8_t* section, size_t size) const {
    bool wantDifference = false, differs = false;
    for (int i = 0; i < DMX_FILTER_SIZE; ++i) {
        size_t at = i == 0 ? 0 : size_t(i) + 2;
        uint8_t byte = at < size ? section[at] : 0;
        uint8_t x = uint8_t(byte ^ f.sct.filter.filter[i]);
        uint8_t equal = uint8_t(f.sct.filter.mask[i] & ~f.sct.filter.mode[i]);
        uint8_t notEqual = uint8_t(f.sct.filter.mask[i] & f.sct.filter.mode[i]);
        if (x & equal) return false;
        wantDifference = wantDifference || notEqual;
        differs = differs || (x & notEqual);
    }
    return !wantDifference || differs;
}

void EmulatedDemux::Deliver(Filter& f, const uint8_t* section, size_t size) {
    if (f.state != Filter::kGo) return;
    bool syntax = size >= 2 && (section[1] & 0x80);
    if ((f.sct.flags & DMX_CHECK_CRC) && syntax && SectionCrc32(section, size) != 0) {
        ++crcDrops_;
        return;
    }
    if (!Matches(f, section, size)) return;
    f.deadline = 0;
    Push(f, section, size);
    if (f.sct.flags & DMX_ONESHOT) f.state = Filter::kDone;
}

void EmulatedDemux::OnPacket(const uint8_t* packet) {
    TsPacketInfo info;
    if (!ParseTsPacket(packet, info)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t now = clock_.NowMicros();
    for (auto& entry : filters_) {
        Filter& f = *entry.second;
        if (f.state != Filter::kGo) continue;
        if (f.kind == Filter::kSection) {
            Expire(f, now);
            if (f.sct.pid != info.pid || f.state != Filter::kGo) continue;
            f.assembler.Feed(info, [&](const uint8_t* s, size_t n) { Deliver(f, s, n); });
        } else if (f.kind == Filter::kPes && (f.pes.pid == info.pid || f.pes.pid == kAllPids)) {
            if (f.pes.output == DMX_OUT_TAP && info.payload) Push(f, info.payload, info.payloadSize);
            if (f.pes.output == DMX_OUT_TSDEMUX_TAP) Push(f, packet, 188);
        }
    }
}

// dvb_dmxdev_read_sec: first the 3 header bytes, then at most the rest of
// that one section; a short read leaves the remainder for the next ones.
ssize_t EmulatedDemux::TakeSection(Filter& f, uint8_t* out, size_t count) {
    size_t done = 0;
    if (f.todo <= 0) {
        size_t want = std::min(size_t(3 + f.todo), count);
        want = std::min(want, f.buffer.size());
        for (size_t i = 0; i < want; ++i) f.header[size_t(-f.todo) + i] = f.buffer[i];
        std::copy_n(f.buffer.begin(), want, out);
        f.buffer.erase(f.buffer.begin(), f.buffer.begin() + long(want));
        done = want;
        count -= want;
        f.todo -= int(want);
        if (f.todo > -3) return ssize_t(done);
        f.todo = ((f.header[1] << 8) | f.header[2]) & 0xFFF;
        if (count == 0) return ssize_t(done);
    }
    size_t take = std::min({count, size_t(f.todo), f.buffer.size()});
    std::copy_n(f.buffer.begin(), take, out + done);
    f.buffer.erase(f.buffer.begin(), f.buffer.begin() + long(take));
    f.todo -= int(take);
    return ssize_t(done + take);
}

// One attempt under the lock: true with the read's result when it is done,
// false with the time-out deadline (0: none) when the caller must wait.
bool EmulatedDemux::TryRead(int fd, void* buf, size_t count, ssize_t& result, int64_t& deadline, bool& yield) {
    std::lock_guard<std::mutex> lock(mutex_);
    Filter* f = Find(fd);
    if (!f) {
        errno = EBADF;
        result = -1;
        return true;
    }
    if (f->dead) {
        errno = ENODEV;
        result = -1;
        yield = true;
        return true;
    }
    if (!f->bufferAllocated || count == 0) {
        result = 0;
        return true;
    }
    Expire(*f, clock_.NowMicros());
    ReadFault& fault = readFaults_[f->kind == Filter::kPes ? 0 : 1];
    if (fault.count != 0 && f->kind != Filter::kNone) {
        yield = true;
        if (fault.count > 0) --fault.count;
        if (fault.error == EOVERFLOW) {
            f->buffer.clear();
            f->todo = 0;
        }
        f->error = fault.error;
    }
    if (f->error) {
        int error = f->error;
        f->error = 0;
        f->buffer.clear();
        errno = error;
        result = -1;
        return true;
    }
    if (!f->buffer.empty()) {
        if (f->kind == Filter::kSection) {
            result = TakeSection(*f, static_cast<uint8_t*>(buf), count);
        } else {
            size_t take = std::min(count, f->buffer.size());
            std::copy_n(f->buffer.begin(), take, static_cast<uint8_t*>(buf));
            f->buffer.erase(f->buffer.begin(), f->buffer.begin() + long(take));
            result = ssize_t(take);
        }
        return true;
    }
    if (f->nonBlocking) {
        errno = EWOULDBLOCK;
        result = -1;
        return true;
    }
    deadline = f->deadline;
    return false;
}

// Whether a blocked read of `fd` would now return: data, an error, a
// time-out that fell due, an injected fault, or a descriptor gone.
bool EmulatedDemux::Readable(int fd) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const Filter* f = Find(fd);
    if (!f || f->dead || !f->bufferAllocated || f->error || !f->buffer.empty()) return true;
    if (f->state == Filter::kGo && f->deadline != 0 && clock_.NowMicros() >= f->deadline) return true;
    const ReadFault& fault = readFaults_[f->kind == Filter::kPes ? 0 : 1];
    return fault.count != 0 && f->kind != Filter::kNone;
}

// As in the kernel, only the wait for data is a cancellation point: once
// data is taken from the buffer the read completes. The wait is the
// clock's: the reader hands its turn over until the replay has delivered
// something for it or its time-out falls due.
ssize_t EmulatedDemux::Read(int fd, void* buf, size_t count) {
    const std::function<bool()> readable = [this, fd] { return Readable(fd); };
    for (;;) {
        ssize_t result = 0;
        int64_t deadline = 0;
        bool yield = false;
        if (TryRead(fd, buf, count, result, deadline, yield)) {
            // A failing driver answers at once: the others get their turn
            // first, or a reader that retries at once would keep it.
            if (yield) {
                const int error = errno;
                clock_.Yield();
                errno = error;
            }
            return result;
        }
        clock_.Wait(readable, deadline ? deadline : SimClock::kNever, "data on the demultiplexer");
    }
}

int EmulatedDemux::Poll(int fd, int64_t timeoutMicros) {
    const std::function<bool()> readable = [this, fd] { return Readable(fd); };
    if (readable()) return 1;
    if (timeoutMicros <= 0) return 0;
    return clock_.Wait(readable, clock_.NowMicros() + timeoutMicros, "data on the demultiplexer") ? 1 : 0;
}
