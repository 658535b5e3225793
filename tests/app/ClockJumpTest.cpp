// The broadcast's clock jumps (a feed switched upstream, a PCR
// discontinuity) while a DVB subtitle is shown: an hour forward during one,
// an hour back during the next. Each must appear and clear as it does on a
// steady clock, within one poll.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppHarness.h"

namespace {

using apptest::AppHarness;

constexpr int kService = 1000;
constexpr int64_t kHour = int64_t(3600) * 90000;
constexpr int64_t kPollMicros = 500000;

struct Timeline {
    std::vector<int64_t> shown;    // µs after the first appearance
    std::vector<int64_t> cleared;  // the same
    int jumpsLogged = 0;
};

// Subtitle (time-out 3 s) every 12 s of stream; with `jumps`, the clock
// moves an hour forward about a second into the first subtitle and back
// about a second into the second.
Timeline Play(bool jumps) {
    AppHarness h;
    h.Mux(apptest::BuildTimedDvbMux(kService, 3, 12));
    h.HandOff(kService);
    int jumped = 0, armedUntil = -1;
    h.Run(
        [&](int poll) {
            // Two polls after a subtitle appeared, while it is shown.
            if (!jumps || jumped == 2 || h.readerInkBlits <= jumped) return true;
            if (armedUntil < 0) {
                armedUntil = poll + 2;
            } else if (poll >= armedUntil) {
                h.env.demux.ShiftStc(jumped == 0 ? kHour : -kHour);
                ++jumped;
                armedUntil = -1;
            }
            return true;
        },
        64);
    Timeline t;
    int64_t origin = -1;
    for (const AppHarness::ReaderBlit& b : h.readerBlitTimes) {
        if (origin < 0 && b.ink) origin = b.micros;
        if (origin < 0) continue;
        (b.ink ? t.shown : t.cleared).push_back(b.micros - origin);
    }
    t.jumpsLogged = h.Count("TEKO: System time clock jumped ");
    return t;
}

TEST(ClockJump, SubtitlesAppearAndClearAsOnASteadyClock) {
    const Timeline steady = Play(false);
    const Timeline jumped = Play(true);
    EXPECT_EQ(steady.jumpsLogged, 0);
    EXPECT_EQ(jumped.jumpsLogged, 2);
    // The steady reference: shown every 12 s, cleared 3 s later (at the
    // first data after the time-out).
    ASSERT_GE(steady.shown.size(), 2u);
    ASSERT_GE(steady.cleared.size(), 2u);
    EXPECT_NEAR(double(steady.cleared[0]), 3e6, double(kPollMicros));
    EXPECT_NEAR(double(steady.shown[1]), 12e6, double(kPollMicros));
    ASSERT_GE(jumped.shown.size(), 2u);
    ASSERT_GE(jumped.cleared.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "an hour forward" : "an hour back");
        EXPECT_LE(std::llabs(jumped.shown[i] - steady.shown[i]), kPollMicros);
        EXPECT_LE(std::llabs(jumped.cleared[i] - steady.cleared[i]), kPollMicros);
    }
}

}  // namespace
