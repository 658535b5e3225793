#include "SimClock.h"

#include <time.h>

namespace {
int64_t SteadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

SimClock::SimClock(double speed) : originNanos_(SteadyNanos()), speed_(speed > 0 ? speed : 1.0) {}

int64_t SimClock::NowMicros() const {
    double elapsed = double(SteadyNanos() - originNanos_.load()) / 1000.0;
    return baseMicros_.load() + int64_t(elapsed * speed_);
}

void SimClock::SetSpeed(double speed) {
    // Re-anchor so that virtual time stays continuous across the change.
    int64_t now = NowMicros();
    baseMicros_ = now;
    originNanos_ = SteadyNanos();
    speed_ = speed > 0 ? speed : 1.0;
}

void SimClock::Reset() {
    baseMicros_ = 0;
    originNanos_ = SteadyNanos();
}

int64_t SimClock::RealMicros(int64_t micros) const {
    if (micros <= 0) return 0;
    return int64_t(double(micros) / speed_);
}

void SimClock::SleepMicros(int64_t micros) const {
    int64_t real = RealMicros(micros);
    timespec ts{time_t(real / 1000000), long((real % 1000000) * 1000)};
    while (nanosleep(&ts, &ts) != 0) {
    }
}
