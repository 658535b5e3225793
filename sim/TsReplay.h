// Replays a recorded transport stream as the tuned multiplex, on the
// SimClock: it is the clock's source of events, and each packet is
// delivered when simulated time reaches its delivery time.
//
// Pace. Each packet gets a delivery time from the capture's own clock:
//  - the PCR of the PID that carries the most PCRs, interpolated between
//    PCRs (gaps over 10 s or going backwards are discontinuities, bridged
//    at the capture's average rate);
//  - else, in a capture without PCR, the PTS of the PID that carries the
//    most time stamps, as if it were a PCR;
//  - else the nominal rate of 1,000 packets a second (1.504 Mbit/s).
// The replay starts at the first Start() (the emulated demultiplexer calls
// it when the first filter starts), can be restarted or looped, and at the
// end of the file stops delivering unless looping.
//
// Clock. Stc(pid) is the system time clock as a box locked to the stream
// would read it: the PCR of the programme whose PMT lists `pid` (or of the
// PID itself when it carries PCR), advancing with the replay from the last
// PCR delivered. When that programme has no PCR in the capture, the clock
// follows the PID's own PTS the same way; failing that the capture's main
// clock; failing that the replay position. Each loop adds the capture's
// length, so the clock never jumps back. Values wrap at 2^33.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "SimClock.h"

class TsReplay : private SimClock::Source {
public:
    // Receives the packets in order, on whichever member of the clock moves
    // time forward (the clock's lock held).
    class Sink {
    public:
        virtual void OnPacket(const uint8_t* packet) = 0;

    protected:
        ~Sink() = default;
    };
    enum class Pacing { kPcr, kPts, kNominal };
    static constexpr double kNominalPacketsPerSecond = 1000.0;

    explicit TsReplay(SimClock& clock);
    ~TsReplay();
    TsReplay(const TsReplay&) = delete;
    TsReplay& operator=(const TsReplay&) = delete;

    // Loads and indexes a capture (before the replay starts). False with
    // `error` set when the file cannot be read or holds no TS packet.
    bool Load(const std::string& path, std::string* error = nullptr);
    bool LoadBytes(std::vector<uint8_t> bytes, std::string* error = nullptr);

    void SetSink(Sink* sink);
    void SetLoop(bool loop);
    // Starts the replay unless it runs already.
    void Start();
    // Plays the file again from its first packet, from now.
    void Restart();
    // Halts delivery (Start or Restart resumes from the beginning).
    void Stop();

    bool Started() const;
    // True once the last packet was delivered (never while looping).
    bool Finished() const;
    // Waits up to `millis` of simulated time for Finished(); the calling
    // thread is a member of the clock.
    bool WaitFinished(int64_t millis);
    int Loops() const;
    size_t Delivered() const;
    // Stream time of the replay: microseconds since the start of this pass.
    int64_t PositionMicros() const;
    int64_t DurationMicros() const { return duration_; }

    int64_t Stc(int pid) const;
    // The same at stream time `position` of the first pass.
    int64_t StcAt(int pid, int64_t position) const;

    Pacing GetPacing() const { return pacing_; }
    int PacingPid() const { return pacingPid_; }
    size_t PacketCount() const { return offsets_.size(); }
    // Bytes of the capture outside any packet: lost sync, or a short tail.
    size_t SkippedBytes() const { return skipped_; }
    const uint8_t* PacketAt(size_t index) const { return data_.data() + offsets_[index]; }
    int64_t TimeOf(size_t index) const { return times_[index]; }
    // The PCR PID of the programme listing `pid` in a PMT that passes its
    // CRC, or -1.
    int PcrPidOf(int pid) const;

private:
    struct Sample {
        size_t index;
        int64_t value;  // 90 kHz
    };
    void Index();
    void ScanPsi(int pid, const uint8_t* section, size_t size);
    void BuildTimeline(const std::vector<Sample>& anchors);
    const std::vector<Sample>* ClockSamples(int pid) const;
    int64_t PositionLocked(int64_t now) const;
    int64_t StcLocked(int pid, int64_t position) const;
    int64_t NextDue() override;
    void RunDue(int64_t now) override;
    void Roll();

    SimClock& clock_;
    std::vector<uint8_t> data_;
    std::vector<size_t> offsets_;
    size_t skipped_ = 0;
    std::vector<int64_t> times_;  // delivery time of each packet, µs from the start
    int64_t duration_ = 0;
    std::map<int, std::vector<Sample>> pcr_;
    std::map<int, std::vector<Sample>> pts_;
    std::map<int, int> pcrPidOf_;  // elementary or PCR PID -> programme PCR PID
    std::set<int> pmtPids_;
    Pacing pacing_ = Pacing::kNominal;
    int pacingPid_ = -1;

    mutable std::mutex mutex_;
    Sink* sink_ = nullptr;
    bool loop_ = false;
    bool started_ = false;
    bool running_ = false;
    bool finished_ = false;
    int loops_ = 0;
    size_t next_ = 0;
    size_t delivered_ = 0;
    int64_t startMicros_ = 0;
};
