// Delivers the PES packets of one elementary stream to one user: a PES
// filter on the demultiplexer (output to this descriptor), a reader thread
// that cuts the byte stream into whole packets at 00 00 01 BD, a FIFO queue
// with its release rule, and the user's timed Sync call-back.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>

#include "demux/PESFilterUser.h"
#include "demux/PESPacket.h"
#include "demux/PesSplitter.h"

class PESFilter {
public:
    PESFilter();
    virtual ~PESFilter();
    PESFilter(const PESFilter&) = delete;
    PESFilter& operator=(const PESFilter&) = delete;

    // Always 0; failures are logged and leave the filter half-started. A
    // demultiplexer that goes away later (ENODEV, EBADF) is closed and
    // opened again by the reader thread, on a back-off from 1 s to 30 s,
    // with one line when it goes and one when it is back.
    int Start(int pid, const PESFilterUser& user, int recDelay, bool dvbMode);
    // Ends the reader thread (between packets only), empties the queue and
    // closes the demultiplexer. Returns 1, or 0 when the thread could not
    // be cancelled or joined.
    int Stop();

    // The reader loop; runs on the reader thread only and never returns.
    void run();
    void processPacket(const unsigned char* data, int size);
    void processQueue();

    // Presentation timing (90 kHz ticks).
    int getSync(int64_t& stc);
    static int extractPTS(int64_t& pts, const unsigned char* packet, int size);
    static void debugTime(const char* label, int64_t& value);

    // The splitter: cuts `size` bytes of the PES byte stream into packets
    // and hands each complete one to processPacket. Public so that the
    // fuzzer and the benchmark can drive it without a device.
    void Feed(const unsigned char* chunk, int size);
    // Back to hunting for a start code (each reader thread starts so).
    void ResetSplitter() { splitter.Reset(); }

    // Inspection for tests and the simulator (reader thread stopped).
    size_t QueuedPackets() const { return queue.size(); }
    size_t QueuedBytes() const { return queuedBytes; }
    unsigned long DroppedPackets() const { return dropped; }
    unsigned long ClockJumps() const { return clockJumps; }
    int64_t SyncAt() const { return syncAt; }
    bool Running() const { return thread != 0; }
    // The simulator's and the tests' view of the decoder's input: called on
    // the reader thread with each packet just before the user receives it.
    // Unset on a box, where it costs one test per packet.
    std::function<void(const PESPacket& packet)> packetHanded;

    // The largest packet the splitter assembles, which it keeps whole.
    static constexpr int kMaxPacketSize = int(kMaxPesPacketSize);
    // Bound of the queue: when a new packet would exceed either, the oldest
    // packets are dropped (and logged) until it fits. A second of Teletext
    // is some 25 packets of under 2 KiB, so this holds far more than any
    // playback delay needs.
    static constexpr size_t kMaxQueuedPackets = 1024;
    static constexpr size_t kMaxQueuedBytes = 1 << 20;

    static PESFilter* theInstance;

private:
    void releaseDue(int64_t stc, bool clockRead);
    void followClock(int64_t stc, int64_t before, int64_t after);
    void rebase(int64_t jump);
    bool isDue(int64_t stamp, int64_t stc, int64_t span) const;
    int64_t stampOf(const unsigned char* data, int size);
    int64_t holdSpan() const;
    int64_t nextWakeMicros(int64_t stc, bool clockRead) const;
    void dropOldest();
    // Opens the demultiplexer and sets the PES filter of `pid`; `tell` logs
    // a failure. False leaves fd at -1.
    bool OpenDevice(bool tell);
    // The reader's side of an outage: closes the dead descriptor, and opens
    // a new one once the back-off allows (true when it is open again).
    void LoseDevice(int error);
    bool TryReopen();
    void deletePacket(PESPacket* packet);

    std::deque<PESPacket*> queue;
    PESFilterUser* user = nullptr;
    pthread_t thread = 0;
    PesSplitter<kMaxPacketSize> splitter;
    int fd = -1;
    int pid = -1;
    int recDelay = 0;
    // The outage being waited out: when it began, the next attempt and the
    // wait before the one after (steady clock, µs).
    int64_t lostAt = 0;
    int64_t reopenAt = 0;
    int64_t reopenWait = 0;
    int64_t syncAt = 0;
    bool dvbMode = false;

    // How far ahead of the clock syncAt was set; a clock that reads further
    // behind than that has jumped (wrap, discontinuity) and the call-back
    // falls due at once.
    int64_t syncSpan = 0;
    // Logged once a run: this stream's PTS do not follow its clock.
    bool ptsOffClock = false;
    size_t queuedBytes = 0;
    unsigned long dropped = 0;

    // The last clock reading, the steady clock's time of it (-1: none yet
    // in this run) and how uncertain that time is (90 kHz ticks), to tell a
    // jump of the system time clock.
    int64_t clockStc = 0;
    int64_t clockMono = -1;
    int64_t clockSlack = 0;
    unsigned long clockJumps = 0;
};

// Thread entry: runs theInstance's reader loop; the argument is ignored.
void* pesFilterThread(void* arg);
