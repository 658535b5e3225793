// The simulator's one clock: simulated stream time, and the turn of the
// daemon's threads.
//
// The threads of a simulation (its members: the daemon's main thread, its
// reader thread, a test's own thread) run one at a time. A member runs
// until it waits for something the simulator controls (a sleep, data on an
// emulated device, a mutex, another member's end), and then hands the turn
// to the next member whose wait is over, in a fixed order. Only when every
// member waits does time move, straight to the next moment something is
// due: a member's deadline or the source's next event (the replay's next
// packet). So the time the machine spends computing, scheduling or
// sanitizing costs no stream time, and the same input gives the same run,
// event for event, on any machine under any load.
//
// Paced (speed > 0), each move of time also waits until the real clock has
// run (move / speed), so that a replay can be watched live; what happens
// stays the same.
//
// A thread that is not a member (the screen writer) takes no turn: it may
// read the time, and its waits are the kernel's.
#pragma once

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimClock {
public:
    static constexpr int64_t kNever = INT64_MAX;
    // A member that has run this long in real time without handing its turn
    // over while another waits for it is reported with every member's state,
    // and the process ends: a stall, where a hang would have been.
    static constexpr int kStallSeconds = 120;

    // What brings events at set times (the replay's packets).
    class Source {
    public:
        // Stream time of the next event, or kNever.
        virtual int64_t NextDue() = 0;
        // Runs every event due at or before `now`.
        virtual void RunDue(int64_t now) = 0;

    protected:
        ~Source() = default;
    };

    // speed 0: as fast as the machine allows; X > 0: X times real time.
    explicit SimClock(double speed = 0);
    ~SimClock();
    SimClock(const SimClock&) = delete;
    SimClock& operator=(const SimClock&) = delete;

    // Simulated microseconds since construction.
    int64_t NowMicros() const { return now_.load(); }
    double Speed() const { return speed_; }
    void SetSource(Source* source);

    // The calling thread becomes a member (and waits for its turn), or
    // stops being one (handing its turn on). Waits make a thread a member
    // by themselves; Enter only gives it a name.
    void Enter(const char* name);
    void Leave();
    bool IsMember() const;

    // Hands the turn over until `ready()` holds or `deadline` passes; true
    // when ready. `ready` is evaluated on whichever member schedules, with
    // the clock's lock held: it must only look at state (it may take the
    // locks of the emulated devices). A wait while the thread's
    // cancellation is enabled is a cancellation point of CancelThread.
    bool Wait(const std::function<bool()>& ready, int64_t deadline, const char* what);
    void SleepMicros(int64_t micros);
    // Lets every other member that is ready run first, with no time passing:
    // where the kernel could switch threads, so that a thread that never
    // blocks (a reader retrying a failing read) does not keep the turn.
    void Yield();

    // Member threads, with pthread's semantics. CancelThread ends the
    // thread at its next wait with cancellation enabled (or at once if it
    // waits in one), its cleanup handlers run; JoinThread waits for its end
    // without holding the turn.
    int StartThread(pthread_t* thread, void* (*entry)(void*), void* arg, const char* name);
    int CancelThread(pthread_t thread);
    int JoinThread(pthread_t thread);

    // Every member's state, one line each (what the stall report prints).
    std::string Describe() const;
    // Where a stall is reported (default: standard error).
    void SetReportFd(int fd);
    // Called on the member that is about to wait, before it hands its turn
    // over: the last moment at which what it did is whole and nothing else
    // runs (where no blit says when the screen changed, the simulator looks
    // at it here). Set before the members start.
    void SetHandOverHook(std::function<void()> hook) { handOverHook_ = std::move(hook); }

private:
    struct Member;
    struct Start;
    static void* Trampoline(void* start);
    static void ExitCleanup(void* member);
    Member* Self() const;
    Member* Join(const char* name, std::unique_lock<std::mutex>& lock);
    void HandOver(std::unique_lock<std::mutex>& lock);
    Member* PickReady();
    bool IsReady(Member& m) const;
    void Pace(int64_t to, std::unique_lock<std::mutex>& lock);
    void Exit(Member* me);
    [[noreturn]] void Stalled(const char* why, std::unique_lock<std::mutex>& lock);
    void Watch();
    std::string DescribeLocked() const;

    const double speed_;
    const uint64_t id_;
    std::atomic<int64_t> now_{0};
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Member>> members_;  // in the order they joined
    uint64_t joined_ = 0;
    Member* holder_ = nullptr;
    uint64_t lastTurn_ = 0;
    Source* source_ = nullptr;
    std::chrono::steady_clock::time_point realAnchor_;
    int64_t anchorMicros_ = 0;
    bool anchored_ = false;
    int reportFd_ = 2;
    std::function<void()> handOverHook_;
    std::atomic<uint64_t> progress_{0};
    std::mutex watchMutex_;
    bool quit_ = false;
    std::condition_variable watchWake_;
    std::thread watchdog_;
};
