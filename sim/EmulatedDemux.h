// The Linux DVB demultiplexer device ("/dev/dvb/adapter0/demux0") of the
// simulator, fed by a TsReplay. It answers the calls the daemon makes the
// way the kernel's dmxdev/dvb_demux do:
//  - every open is a filter of its own with a real descriptor (an eventfd,
//    which only stands for the filter); a blocking read waits on the
//    SimClock until the replay delivers, a cancellation point as read() is;
//  - DMX_SET_FILTER: section filters, filter/mask/mode on table_id and on
//    the bytes after section_length (a mode bit asks for a difference in
//    at least one such bit), DMX_CHECK_CRC (sections with the syntax
//    indicator and a bad CRC dropped), DMX_ONESHOT, DMX_IMMEDIATE_START, and
//    the timeout: no section within it from the start of the filter makes
//    the read fail with ETIMEDOUT (the filter then stays silent until it is
//    set or started again). One read returns at most one section; a short
//    read returns its start and the rest comes with the next reads;
//  - DMX_SET_PES_FILTER with DMX_OUT_TAP: the PID's TS payloads in order,
//    adaptation fields skipped, from the moment the filter starts (also
//    mid-packet); DMX_OUT_TSDEMUX_TAP: the whole TS packets; other outputs
//    deliver nothing here. A read returns what is there, up to `count`,
//    and blocks only while nothing is;
//  - each filter buffers 8,192 bytes (the kernel's default; DMX_SET_BUFFER_SIZE
//    or SetBufferSize change it); when the reader falls behind the buffer
//    is flushed and the next read fails with EOVERFLOW;
//  - DMX_GET_STC: TsReplay::Stc of the filter's PID, base 1; DMX_START,
//    DMX_STOP (flushes), close, up to 256 descriptors (then EMFILE);
//  - a read before any filter was started returns 0, like the kernel's;
//  - SetPresent(false) unplugs the device: the node is gone (opens fail
//    with ENOENT), and every descriptor open at that moment is dead for
//    good (reads, polls and ioctls answer ENODEV, close still closes) as
//    after the driver unregistered it; SetPresent(true) brings the node
//    back for new opens only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "SectionAssembler.h"
#include "SimClock.h"
#include "SimDevice.h"
#include "TsReplay.h"

class EmulatedDemux : public SimDevice, private TsReplay::Sink {
public:
    static constexpr size_t kDefaultBufferSize = 8192;
    static constexpr int kMaxFilters = 256;

    // Installs itself as the replay's sink; the replay must outlive it.
    EmulatedDemux(TsReplay& replay, SimClock& clock);
    ~EmulatedDemux() override;

    int Open(int flags) override;
    bool Owns(int fd) const override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    ssize_t Read(int fd, void* buf, size_t count) override;
    // As poll() on a filter: the wait is the SimClock's.
    int Poll(int fd, int64_t timeoutMicros) override;

    // Buffer size of filters set from now on.
    void SetBufferSize(size_t bytes);
    // false: DMX_GET_STC fails with EINVAL (a demultiplexer without STC).
    void SetStcAvailable(bool available);

    // Fault injection, as a failing driver would answer:
    // requests of this number (DMX_SET_FILTER, DMX_SET_PES_FILTER...) fail
    // with `error`; 0 answers them again.
    void RefuseIoctl(unsigned long request, int error);
    enum class ReadTarget { kPes, kSection };
    // The next `count` reads of started filters of that kind fail with
    // `error` (-1: every read until FailReads(target, 0, 0)). EOVERFLOW also
    // throws away what the filter buffered, as the kernel's overflow does.
    void FailReads(ReadTarget target, int error, int count);
    // Removes the device node (false) or puts it back (true); see above.
    void SetPresent(bool present);
    bool Present() const;
    // A discontinuity of the broadcast's clock: DMX_GET_STC answers `ticks`
    // (90 kHz) more from now on, on top of earlier shifts.
    void ShiftStc(int64_t ticks);

    int OpenCount() const;
    // Sections dropped for a bad CRC, and buffer overflows, since creation.
    size_t CrcDrops() const;
    size_t Overflows() const;

private:
    struct Filter;
    void OnPacket(const uint8_t* packet) override;
    Filter* Find(int fd) const;
    bool TryRead(int fd, void* buf, size_t count, ssize_t& result, int64_t& deadline, bool& yield);
    void StartFilter(Filter& f, int64_t now);
    void StopFilter(Filter& f);
    void Expire(Filter& f, int64_t now);
    void Deliver(Filter& f, const uint8_t* section, size_t size);
    void Push(Filter& f, const uint8_t* data, size_t size);
    bool Matches(const Filter& f, const uint8_t* section, size_t size) const;
    ssize_t TakeSection(Filter& f, uint8_t* out, size_t count);
    bool Readable(int fd) const;
    int SetSectionFilter(Filter& f, const void* arg);
    int SetPesFilter(Filter& f, const void* arg);
    int GetStc(Filter& f, void* arg);

    TsReplay& replay_;
    SimClock& clock_;
    mutable std::mutex mutex_;
    std::map<int, std::unique_ptr<Filter>> filters_;
    size_t bufferSize_ = kDefaultBufferSize;
    bool stcAvailable_ = true;
    bool present_ = true;
    std::map<unsigned long, int> refused_;
    struct ReadFault {
        int error = 0;
        int count = 0;
    };
    ReadFault readFaults_[2];
    int64_t stcShift_ = 0;
    size_t crcDrops_ = 0;
    size_t overflows_ = 0;
};
