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
    // At ten times real time a reader thread kept waiting 10 ms by a busy
    // machine is 100 ms of stream late, well within the poll compared.
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
        70);
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

// What a steady clock gives: each subtitle shown 12 s after the one before
// (when its packet arrives) and cleared 3 s after it appeared. Measured per
// subtitle, so that a reader thread kept waiting by a busy machine at one
// appearance does not shift the rest.
void ExpectSteady(const Timeline& t) {
    ASSERT_GE(t.shown.size(), 3u);
    ASSERT_GE(t.cleared.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i == 0 ? "the subtitle of the jump forward" : "the subtitle of the jump back");
        EXPECT_NEAR(double(t.cleared[i] - t.shown[i]), 3e6, double(kPollMicros));
        EXPECT_NEAR(double(t.shown[i + 1] - t.shown[i]), 12e6, double(kPollMicros));
    }
}

TEST(ClockJump, SubtitlesAppearAndClearAsOnASteadyClock) {
    const Timeline steady = Play(false);
    const Timeline jumped = Play(true);
    EXPECT_EQ(steady.jumpsLogged, 0);
    EXPECT_EQ(jumped.jumpsLogged, 2);
    {
        SCOPED_TRACE("steady");
        ExpectSteady(steady);
    }
    {
        SCOPED_TRACE("jumped");
        ExpectSteady(jumped);
    }
}

}  // namespace
