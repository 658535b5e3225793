// The timing side of PESFilter: the system time clock, the release stamp of
// each packet, the queue's release rule and the user's timed Sync.
#include <sys/ioctl.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>

#include <cstring>

#include "platform/Log.h"
#include "platform/ByteReader.h"
#include "demux/PESFilter.h"
#include "platform/Platform.h"

namespace {
constexpr int64_t kTicksPerSecond = 90000;
constexpr int64_t kTicksPerMs = 90;
// The system time clock counts 33 bits (ISO/IEC 13818-1 §2.4.2.2) and
// wraps about every 26.5 hours. Stamps are compared modulo that period,
// so a stamp set shortly before the wrap falls due shortly after it.
constexpr uint64_t kClockPeriod = uint64_t(1) << 33;
constexpr int64_t kHalfPeriod = int64_t(1) << 32;
// A playback delay beyond this many seconds is cut to it (a day is far
// more than a recording ever needs and stays within half a clock period).
constexpr int kMaxRecDelay = 86400;
// A PTS further than this from the clock, either way, does not follow it
// (a stream re-stamped upstream, a PCR of another time base): its packet is
// presented on arrival.
constexpr int64_t kPtsFollowsClockTicks = 10 * kTicksPerSecond;
// The longest single wait for something due, so that a clock that jumps
// meanwhile is seen soon.
constexpr int64_t kMaxWakeMicros = 1000000;

// The playback delay in clock ticks, cut to 0 .. kMaxRecDelay seconds.
int64_t DelayTicks(int recDelay) {
    const int seconds = recDelay > kMaxRecDelay ? kMaxRecDelay : (recDelay < 0 ? 0 : recDelay);
    return int64_t(seconds) * kTicksPerSecond;
}
}  // namespace

int PESFilter::getSync(int64_t& stc) {
    dmx_stc record;
    std::memset(&record, 0, sizeof record);
    record.num = 0;
    record.base = 1;
    // The steady clock on both sides of the reading: the thread may be kept
    // waiting in between, and that time must not pass for a jump.
    const int64_t before = platform::MonotonicMicros();
    if (platform::Ioctl(fd, DMX_GET_STC, &record) < 0) {
        stc = 0;
        return -1;
    }
    const int64_t after = platform::MonotonicMicros();
    stc = int64_t(record.stc);
    followClock(stc, before, after);
    return 1;
}

namespace {
// A tick count on the 33-bit clock, in [0, 2^33).
int64_t Wrap(int64_t ticks) { return int64_t(uint64_t(ticks) & (kClockPeriod - 1)); }
// A difference of two clock values, in (-2^32, 2^32].
int64_t SignedDifference(int64_t ticks) {
    const int64_t wrapped = Wrap(ticks);
    return wrapped > kHalfPeriod ? wrapped - int64_t(kClockPeriod) : wrapped;
}
// A stamp moved by a jump; 0 means "no stamp", so a stamp that lands there
// takes the equal value one period on.
int64_t Moved(int64_t stamp, int64_t jump) {
    const int64_t moved = Wrap(stamp + jump);
    return moved != 0 ? moved : int64_t(kClockPeriod);
}
}  // namespace

// The system time clock follows the broadcast's PCR, which jumps at every
// discontinuity (a feed switched upstream, a splice, a looped playout); the
// machine's steady clock runs on. Between two readings the system time
// clock must have advanced as much as the steady clock did; when the two
// differ by more than a second, the clock jumped, and what is pending moves
// with it: a shown subtitle is still cleared after its remaining time and a
// held packet released after its remaining wait, as if nothing had jumped.
// The reading was taken somewhere between `before` and `after` (steady µs):
// that span, this reading's and the last one's, widens the second allowed.
void PESFilter::followClock(int64_t stc, int64_t before, int64_t after) {
    const int64_t mono = before + (after - before) / 2;
    const int64_t slack = (after - before) / 2 * kTicksPerMs / 1000;
    if (clockMono >= 0) {
        const int64_t ran = (mono - clockMono) * kTicksPerMs / 1000;
        const int64_t jump = SignedDifference(stc - clockStc - ran);
        const int64_t limit = kTicksPerSecond + slack + clockSlack;
        if (jump > limit || jump < -limit) rebase(jump);
    }
    clockStc = stc;
    clockMono = mono;
    clockSlack = slack;
}

void PESFilter::rebase(int64_t jump) {
    size_t held = 0;
    for (PESPacket* packet : queue) {
        if (packet->pts == 0) continue;
        packet->pts = Moved(packet->pts, jump);
        ++held;
    }
    if (syncAt != 0) syncAt = Moved(syncAt, jump);
    ++clockJumps;
    eWarning("System time clock jumped %+lld ms: %zu held packets and %d pending call-back moved with it\n",
           (long long)(jump / kTicksPerMs), held, syncAt != 0 ? 1 : 0);
}

// ISO/IEC 13818-1 §2.4.3.7: PTS_DTS_flags are the top bits of byte 7, the
// 33-bit PTS is spread over bytes 9 to 13 between marker bits. A packet too
// short to hold the flags or the PTS counts as one without a PTS.
int PESFilter::extractPTS(int64_t& pts, const unsigned char* packet, int size) {
    pts = 0;
    ByteReader r(packet, size > 0 ? size_t(size) : 0);
    r.Skip(7);
    uint8_t flags = r.U8();
    if (!r.Ok() || !(flags & 0x80)) return -1;
    r.Skip(1);
    uint8_t b9 = r.U8();
    uint16_t b10_11 = r.U16();
    uint16_t b12_13 = r.U16();
    if (!r.Ok()) return -1;
    pts = (int64_t((b9 >> 1) & 0x07) << 30) | (int64_t(b10_11 >> 1) << 15) | int64_t(b12_13 >> 1);
    return 0;
}

void PESFilter::debugTime(const char* label, int64_t& value) {
    int64_t seconds = value / kTicksPerSecond;
    int ticks = int(value % kTicksPerSecond);
    int days = int(seconds / 86400);
    int hours = int((seconds / 3600) % 24);
    int minutes = int((seconds / 60) % 60);
    int secs = int(seconds % 60);
    eTrace("%s: %016llx %d:%02d:%02d:%02d:%05d\n", label, (unsigned long long)value, days, hours,
           minutes, secs, ticks);
    uint64_t v = uint64_t(value);
    eTrace("%s: %x %x %x %x %x %x %x %x \n", label, unsigned(v & 0xFF), unsigned((v >> 8) & 0xFF),
           unsigned((v >> 16) & 0xFF), unsigned((v >> 24) & 0xFF), unsigned((v >> 32) & 0xFF),
           unsigned((v >> 40) & 0xFF), unsigned((v >> 48) & 0xFF), unsigned((v >> 56) & 0xFF));
}

// Due when the clock has reached the stamp, modulo the clock period. A
// stamp is never set more than `span` ticks ahead of the clock, so a clock
// that reads further behind has jumped back (wrap of a wider counter,
// stream discontinuity, another service): the stamp is then due at once
// rather than holding the queue for up to a whole period.
bool PESFilter::isDue(int64_t stamp, int64_t stc, int64_t span) const {
    uint64_t diff = (uint64_t(stc) - uint64_t(stamp)) & (kClockPeriod - 1);
    int64_t signedDiff = diff >= uint64_t(kHalfPeriod) ? int64_t(diff) - int64_t(kClockPeriod) : int64_t(diff);
    if (signedDiff >= 0) return true;
    return -signedDiff > span;
}

int64_t PESFilter::holdSpan() const {
    return kPtsFollowsClockTicks + DelayTicks(recDelay);
}

// The system time clock at which a packet is presented: its PTS (ISO/IEC
// 13818-1 §2.4.3.7: the presentation time), or without one the clock now;
// plus the playback delay while a recording plays. 0 means at once: a PTS
// that does not follow the clock or comes while the clock cannot be read
// (without a PTS, an unreadable clock reads 0).
int64_t PESFilter::stampOf(const unsigned char* data, int size) {
    int64_t pts = 0;
    const bool hasPts = extractPTS(pts, data, size) == 0;
    int64_t stc = 0;
    const bool clockRead = getSync(stc) == 1;
    const int64_t delay = DelayTicks(recDelay);
    if (hasPts) {
        if (!clockRead) return 0;
        const int64_t lead = SignedDifference(pts - stc);
        if (lead > kPtsFollowsClockTicks || lead < -kPtsFollowsClockTicks) {
            if (!ptsOffClock)
                eDebug("PTS %+lld ms from the system time clock: this stream's packets are presented on arrival\n",
                       (long long)(lead / kTicksPerMs));
            ptsOffClock = true;
            return 0;
        }
        return Moved(pts, delay);
    }
    int64_t stamp = stc;
    if (delay != 0) {
        stamp += delay;
        eTrace("TEKO: Added RecDelay!\n");
        debugTime("PTS     ", stamp);
        debugTime("STC     ", stc);
    }
    return stamp;
}

// Microseconds until the queue's first packet or the pending call-back
// falls due (0: now), or -1 when nothing waits for the clock.
int64_t PESFilter::nextWakeMicros(int64_t stc, bool clockRead) const {
    if (!queue.empty() && queue.front()->pts == 0) return 0;
    if (!clockRead) return -1;
    int64_t ticks = -1;
    auto consider = [&](int64_t stamp) {
        const int64_t ahead = SignedDifference(stamp - stc);
        const int64_t wait = ahead > 0 ? ahead : 0;
        if (ticks < 0 || wait < ticks) ticks = wait;
    };
    if (!queue.empty()) consider(queue.front()->pts);
    if (syncAt != 0) consider(syncAt);
    if (ticks < 0) return -1;
    // Rounded up, so that the clock has reached the stamp at the wake.
    const int64_t micros = (ticks * 1000 + kTicksPerMs - 1) / kTicksPerMs;
    return micros < kMaxWakeMicros ? micros : kMaxWakeMicros;
}

void PESFilter::processPacket(const unsigned char* data, int size) {
    if (size <= 0 || size > kMaxPacketSize) return;
    const int64_t stamp = stampOf(data, size);
    while (!queue.empty() &&
           (queue.size() >= kMaxQueuedPackets || queuedBytes + size_t(size) > kMaxQueuedBytes))
        dropOldest();
    PESPacket* packet = new PESPacket;
    packet->pts = stamp;
    packet->data = new unsigned char[size];
    std::memcpy(packet->data, data, size_t(size));
    packet->size = size;
    queue.push_back(packet);
    queuedBytes += size_t(size);
}

// Packets are held until their time, at most some seconds ahead; the bound
// keeps a broken clock, or a stream sent far ahead, from eating the box's
// memory.
void PESFilter::dropOldest() {
    PESPacket* packet = queue.front();
    queue.pop_front();
    ++dropped;
    if (dropped == 1 || dropped % 100 == 0)
        eWarning("PES queue full (%zu packets, %zu bytes): dropped a packet of %d bytes stamped %lld, %lu dropped so far\n",
               queue.size() + 1, queuedBytes, packet->size, (long long)packet->pts, dropped);
    deletePacket(packet);
}

void PESFilter::processQueue() {
    if (queue.empty()) return;
    int64_t stc = 0;
    bool clockRead = getSync(stc) == 1;
    releaseDue(stc, clockRead);
}

void PESFilter::releaseDue(int64_t stc, bool clockRead) {
    PESPacket* packet = queue.front();
    if (packet->pts != 0) {
        // While the clock cannot be read, a stamped packet stays held.
        if (!clockRead) return;
        if (!isDue(packet->pts, stc, holdSpan())) return;
    }
    queue.pop_front();
    if (user) {
        if (packetHanded) packetHanded(*packet);
        int ms = user->Receive(*packet);
        if (ms != 0) {
            int64_t ticks = int64_t(ms) * kTicksPerMs;
            // Beyond half a clock period a stamp cannot be told from the past.
            if (ticks >= kHalfPeriod) ticks = kHalfPeriod - 1;
            syncAt = stc + ticks;
            // The reader loop checks the call-back against the clock read
            // at the top of its pass, a little before `stc`: a second of
            // slack keeps that reading from passing for a jump back, which
            // would clear the subtitle as soon as it is drawn.
            syncSpan = ticks > 0 ? ticks + kTicksPerSecond : 0;
        } else {
            syncAt = 0;
            syncSpan = 0;
        }
    } else {
        eWarning("  No user attached for Receive()???\n");
    }
    deletePacket(packet);
}
