// PES filter life cycle, reader loop and the byte-stream splitter. The
// timing side (clock, stamps, release rule, Sync) is in PESFilterTiming.cpp.
#include "demux/PESFilter.h"
#include "demux/PesTap.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>

#include <algorithm>
#include <cstring>

#include "platform/Log.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

PESFilter* PESFilter::theInstance = nullptr;

namespace {
constexpr int kChunkSize = ids::kTsPacketSize;
constexpr unsigned kBackOffMicros = 500000;
// A demultiplexer that went away is opened again after 1 s, then after
// twice the wait before each time up to 30 s: a driver reloaded or a tuner
// re-plugged is back within seconds, and a box without one is asked no
// more than twice a minute.
constexpr int64_t kFirstReopenMicros = 1000000;
constexpr int64_t kLastReopenMicros = 30000000;

// Read errors that mean the descriptor is dead for good: the device was
// unregistered (ENODEV, ENXIO) or the descriptor is no longer ours (EBADF).
bool DeviceGone(int error) { return error == ENODEV || error == ENXIO || error == EBADF; }
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define TEKO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEKO_ASAN 1
#endif
#endif

#ifdef TEKO_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {
// Cancellation unwinds the reader's frames without AddressSanitizer seeing
// them return, so their red zones would stay poisoned below the live stack
// and be reported when the thread's own exit code reuses that memory.
// Run while the cancellation unwinds: everything below this frame is dead.
void ForgetDeadFrames(void*) {
#ifdef TEKO_ASAN
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    char* here = static_cast<char*>(__builtin_frame_address(0));
    char* bottom = static_cast<char*>(low);
    if (here > bottom && here <= bottom + size) ASAN_UNPOISON_MEMORY_REGION(bottom, size_t(here - bottom));
#endif
}
}  // namespace

void* pesFilterThread(void* arg) {
    // The filter that started the thread passes itself; theInstance is the
    // one filter of the daemon and serves when no argument is given.
    PESFilter* filter = arg ? static_cast<PESFilter*>(arg) : PESFilter::theInstance;
    pthread_cleanup_push(ForgetDeadFrames, nullptr);
    if (filter) filter->run();
    pthread_cleanup_pop(0);
    return nullptr;
}

PESFilter::PESFilter() {
    eDebug("PESFilter created.\n");
    theInstance = this;
}

PESFilter::~PESFilter() {
    // A running reader thread would outlive the object it works on.
    if (thread != 0 || fd != -1 || !queue.empty()) Stop();
    if (theInstance == this) theInstance = nullptr;
}

int PESFilter::Start(int pid, const PESFilterUser& user, int recDelay, bool dvbMode) {
    // A second reader thread would share the splitter state with the first,
    // and a descriptor left open by a half-failed start would leak.
    if (thread != 0 || fd != -1) Stop();
    eDebug("Filter starting: 0x%x\n", pid);
    this->user = const_cast<PESFilterUser*>(&user);
    this->recDelay = recDelay;
    this->dvbMode = dvbMode;

    this->pid = pid;
    if (!OpenDevice(true)) return 0;
    ptsOffClock = false;
    thread = 0;
    pthread_t created;
    if (platform::StartThread(&created, pesFilterThread, this) != 0) {
        eWarning("Failed pthread_create()\n");
        return 0;
    }
    thread = created;
    return 0;
}

bool PESFilter::OpenDevice(bool tell) {
    fd = platform::Open(paths::kDemux, O_RDWR);
    if (fd < 0) {
        fd = -1;
        if (tell) eWarning("Failed open(DMX)\n");
        return false;
    }
    dmx_pes_filter_params params = PesTap(pid);
    if (platform::Ioctl(fd, DMX_SET_PES_FILTER, &params) < 0) {
        if (tell) eWarning("Failed ioctl(DMX_SET_PES_FILTER)\n");
        platform::Close(fd);
        fd = -1;
        return false;
    }
    return true;
}

void PESFilter::LoseDevice(int error) {
    eWarning("Demultiplexer lost (%s): PES filter 0x%x stopped, opening it again\n", strerror(error), pid);
    platform::Close(fd);
    fd = -1;
    // What was being assembled misses its end.
    ResetSplitter();
    lostAt = platform::MonotonicMicros();
    reopenWait = kFirstReopenMicros;
    reopenAt = lostAt + reopenWait;
}

bool PESFilter::TryReopen() {
    const int64_t now = platform::MonotonicMicros();
    if (now < reopenAt) return false;
    if (!OpenDevice(false)) {
        reopenWait = std::min(2 * reopenWait, kLastReopenMicros);
        reopenAt = now + reopenWait;
        return false;
    }
    eWarning("Demultiplexer back after %.1f s: PES filter 0x%x started again\n", double(now - lostAt) / 1e6, pid);
    return true;
}

int PESFilter::Stop() {
    eDebug("Stoping PESFilter thread.\n");
    if (thread != 0) {
        if (platform::CancelThread(thread) != 0) {
            eWarning("Failed pthread_cancel()\n");
            return 0;
        }
        if (platform::JoinThread(thread) != 0) {
            eWarning("Failed pthread_join()\n");
            return 0;
        }
        thread = 0;
    }
    eDebug("Clean up PES queue.\n");
    while (!queue.empty()) {
        PESPacket* packet = queue.front();
        queue.pop_front();
        deletePacket(packet);
    }
    // A call-back still pending belongs to this run's user; it must not
    // fall due under the user of the next Start.
    syncAt = 0;
    syncSpan = 0;
    if (fd != -1) {
        platform::Ioctl(fd, DMX_STOP, nullptr);
        platform::Close(fd);
        fd = -1;
    }
    return 1;
}

void PESFilter::deletePacket(PESPacket* packet) {
    queuedBytes -= size_t(packet->size);
    delete[] packet->data;
    delete packet;
}

// The thread may only be cancelled at the top of a pass, in the blocking
// read and in the back-off sleep: everything else (splitting, Receive,
// Sync, logging) runs with cancellation disabled, so Stop never ends it in
// the middle of a packet or of a user call.
void PESFilter::run() {
    int previous;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    eDebug("PESFilter thread started...\n");
    ResetSplitter();
    clockMono = -1;
    bool failedBefore = false;
    unsigned char chunk[kChunkSize];
    for (;;) {
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
        pthread_testcancel();
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);

        int64_t stc = 0;
        bool clockRead = getSync(stc) == 1;
        const unsigned long jumps = clockJumps;
        processQueue();
        // A jump seen by that second reading moved syncAt onto the clock's
        // new time line: compare it with a reading from that line too.
        if (clockJumps != jumps) clockRead = getSync(stc) == 1;
        if (syncAt != 0 && clockRead && isDue(syncAt, stc, syncSpan)) {
            syncAt = 0;
            syncSpan = 0;
            if (user) {
                debugTime("SYNC@", stc);
                user->Sync(stc);
            }
        }

        // A packet or a call-back falls due without data arriving: the read
        // waits no longer than until then.
        const int64_t wake = nextWakeMicros(stc, clockRead);
        if (fd < 0 && !TryReopen()) {
            // Without a device only the queue and the call-back go on; the
            // thread sleeps until the next attempt or what falls due first.
            int64_t sleep = std::max<int64_t>(reopenAt - platform::MonotonicMicros(), 0);
            if (wake > 0 && wake < sleep) sleep = wake;
            pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
            platform::Sleep(unsigned(sleep));
            pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
            continue;
        }
        if (wake >= 0) {
            pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
            const int ready = platform::Poll(fd, wake);
            pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
            if (ready == 0) continue;
        }

        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
        ssize_t n = platform::Read(fd, chunk, kChunkSize);
        int error = errno;
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);

        if (n > 0) {
            failedBefore = false;
            Feed(chunk, int(n));
            continue;
        }
        if (n < 0 && (error == EAGAIN || error == EINTR)) continue;
        if (n < 0 && DeviceGone(error)) {
            LoseDevice(error);
            failedBefore = false;
            continue;
        }
        if (n < 0 && error == EOVERFLOW) {
            // The demultiplexer fell behind and threw away what it held: the
            // packet being assembled lost bytes, so it is dropped and the
            // splitter hunts for the next start code. The buffer is empty
            // now; reading at once keeps it from overflowing again, and only
            // a storm of failures backs off below.
            eWarning("PES filter buffer overflow: data lost, waiting for the next packet\n");
            ResetSplitter();
            if (!failedBefore) {
                failedBefore = true;
                continue;
            }
        }
        failedBefore = true;
        if (n == 0)
            eWarning("Nothing to read...[read(demuxFD, packet, 188);]: %d\n", 0);
        else
            eWarning("Warning, ERROR from PESFilter[read(demuxFD, packet, 188);]: %d\n", int(n));
        pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous);
        platform::Sleep(kBackOffMicros);
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    }
}

void PESFilter::Feed(const unsigned char* chunk, int size) {
    splitter.Feed(chunk, size > 0 ? size_t(size) : 0,
                  [this](const unsigned char* data, size_t n) { processPacket(data, int(n)); });
}
