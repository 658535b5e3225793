#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <string>
#include <vector>

#include "SimClock.h"

namespace {

struct Sleeper {
    SimClock* clock;
    int64_t step;
    int steps;
    std::vector<std::string>* trace;
    std::string name;
};

void* Sleep(void* arg) {
    auto* s = static_cast<Sleeper*>(arg);
    for (int i = 0; i < s->steps; ++i) {
        s->clock->SleepMicros(s->step);
        s->trace->push_back(s->name + "@" + std::to_string(s->clock->NowMicros()));
    }
    return nullptr;
}

// Members run one at a time; time moves only when all of them wait, straight
// to the earliest deadline, and members due at the same moment take turns
// in a fixed round: the same trace on every run.
TEST(SimClock, TimeJumpsToTheNextDeadlineAndTurnsFollowAFixedOrder) {
    SimClock clock;
    std::vector<std::string> trace;
    Sleeper a{&clock, 300, 3, &trace, "a"}, b{&clock, 200, 3, &trace, "b"};
    pthread_t ta, tb;
    clock.Enter("test");
    ASSERT_EQ(clock.StartThread(&ta, Sleep, &a, "a"), 0);
    ASSERT_EQ(clock.StartThread(&tb, Sleep, &b, "b"), 0);
    EXPECT_EQ(clock.JoinThread(ta), 0);
    EXPECT_EQ(clock.JoinThread(tb), 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"b@200", "a@300", "b@400", "a@600", "b@600", "a@900"}));
    EXPECT_EQ(clock.NowMicros(), 900);
    clock.Leave();
}

int g_cleanups = 0;
void CountCleanup(void*) { ++g_cleanups; }

void* WaitForever(void* arg) {
    auto* clock = static_cast<SimClock*>(arg);
    pthread_cleanup_push(CountCleanup, nullptr);
    const std::function<bool()> never = [] { return false; };
    clock->Wait(never, SimClock::kNever, "nothing");
    pthread_cleanup_pop(0);
    return nullptr;
}

// A cancelled member ends at its wait with its cleanup handlers run, and the
// join does not hold the turn it needs to end.
TEST(SimClock, CancelEndsAWaitingMemberWithItsCleanup) {
    SimClock clock;
    g_cleanups = 0;
    pthread_t t;
    ASSERT_EQ(clock.StartThread(&t, WaitForever, &clock, "waiter"), 0);
    clock.SleepMicros(1000);
    ASSERT_EQ(clock.CancelThread(t), 0);
    EXPECT_EQ(clock.JoinThread(t), 0);
    EXPECT_EQ(g_cleanups, 1);
    EXPECT_EQ(clock.CancelThread(t), ESRCH);
}

// Everybody waiting for somebody with nothing due is reported, with each
// member's state, instead of hanging.
TEST(SimClockDeathTest, AWaitThatNothingCanEndIsReported) {
    EXPECT_DEATH(
        {
            SimClock clock;
            pthread_t t;
            clock.StartThread(&t, WaitForever, &clock, "waiter");
            clock.JoinThread(t);
        },
        "simulation stalled: every thread waits .*waiter: waiting for nothing");
}

}  // namespace
