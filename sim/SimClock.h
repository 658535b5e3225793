// The simulator's one clock: stream time, running `speed` times faster than
// the real clock. The daemon's poll sleep, the reader thread's sleeps, the
// emulated demultiplexer's replay pace, its section time-outs and its system
// time clock all read this clock, so they scale together.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

class SimClock {
public:
    explicit SimClock(double speed = 1.0);

    // Virtual microseconds since construction (or the last Reset).
    int64_t NowMicros() const;
    double Speed() const { return speed_; }
    void SetSpeed(double speed);
    void Reset();

    // Sleeps `micros` virtual microseconds. Uses nanosleep, so it is a
    // thread cancellation point like usleep.
    void SleepMicros(int64_t micros) const;
    // Real microseconds that `micros` of virtual time take.
    int64_t RealMicros(int64_t micros) const;

private:
    using Steady = std::chrono::steady_clock;
    std::atomic<int64_t> originNanos_;   // real steady time of virtual 0
    std::atomic<int64_t> baseMicros_{0}; // virtual time at origin
    double speed_;
};
