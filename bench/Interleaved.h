// Comparisons whose sides take turns: in every round each side runs one
// repetition of a fixed number of passes, so that load from elsewhere on the
// machine falls on all sides alike instead of on whichever ran while it
// lasted. A ratio is then taken pair by pair (the same round's repetitions)
// as well as from the medians.
#pragma once

#include <time.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace bench {

// A calibration grows its pass count until it has taken this much CPU time,
// long enough to be well above the clock's resolution and a scheduler tick.
constexpr double kCalibrationSeconds = 0.02;

// CPU seconds of the calling thread: every side does all its work on the
// thread that measures it, and no other thread's time can count for it.
inline double ThreadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Side {
    explicit Side(std::function<void()> onePass) : pass(std::move(onePass)) {}
    std::function<void()> pass;  // one pass over the work being measured
    long passes = 1;             // per repetition, from Calibrate
    std::vector<double> rates;   // passes per CPU second, one per repetition
};

// CPU seconds taken by `count` passes.
inline double TimePasses(const Side& side, long count) {
    const double start = ThreadCpuSeconds();
    for (long i = 0; i < count; ++i) side.pass();
    return ThreadCpuSeconds() - start;
}

// Sets the passes per repetition so that one takes about `seconds` of CPU.
// The calibration runs also warm the side's caches and allocations up.
inline void Calibrate(Side& side, double seconds) {
    long count = 1;
    double taken = TimePasses(side, count);
    while (taken < kCalibrationSeconds) {
        count *= 2;
        taken = TimePasses(side, count);
    }
    side.passes = std::max(1L, std::lround(seconds * double(count) / taken));
}

inline void RunRepetition(Side& side) {
    side.rates.push_back(double(side.passes) / TimePasses(side, side.passes));
}

// `repetitions` rounds of one repetition per side. Every other round runs
// the sides in reverse order, so that each side follows the others as
// often as it precedes them, and a side listed between two others always
// runs next to both.
inline void RunInterleaved(const std::vector<Side*>& sides, int repetitions) {
    for (int round = 0; round < repetitions; ++round) {
        if (round % 2 == 0) {
            for (Side* s : sides) RunRepetition(*s);
        } else {
            for (auto s = sides.rbegin(); s != sides.rend(); ++s) RunRepetition(**s);
        }
    }
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// The ratio of one side's rate to another's: of the medians, and the
// smallest and largest of the rounds' own ratios.
struct Ratio {
    double ofMedians = 0, min = 0, max = 0;
};

inline Ratio CompareRates(const Side& ours, const Side& theirs) {
    Ratio r;
    const double base = Median(theirs.rates);
    if (base <= 0) return r;
    r.ofMedians = Median(ours.rates) / base;
    const size_t n = std::min(ours.rates.size(), theirs.rates.size());
    for (size_t k = 0; k < n; ++k) {
        const double pair = ours.rates[k] / theirs.rates[k];
        r.min = k == 0 ? pair : std::min(r.min, pair);
        r.max = k == 0 ? pair : std::max(r.max, pair);
    }
    return r;
}

}  // namespace bench
