#include "SimClock.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {
// Clocks are told apart by a number of their own, not by their address: a
// test's next clock may live where the last one did, and a thread that
// was a member of that one is not a member of this one.
std::atomic<uint64_t> g_clocks{0};
thread_local uint64_t t_clock = 0;
thread_local void* t_member = nullptr;

bool CancelEnabled() {
    int state = PTHREAD_CANCEL_ENABLE;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    pthread_setcancelstate(state, nullptr);
    return state == PTHREAD_CANCEL_ENABLE;
}

bool NeverReady() { return false; }
}  // namespace

struct SimClock::Member {
    enum State { kStarting, kRunning, kWaiting, kExited };
    SimClock* clock = nullptr;
    uint64_t seq = 0;
    std::string name;
    pthread_t thread{};
    State state = kStarting;
    std::condition_variable turn;
    const std::function<bool()>* ready = nullptr;
    int64_t deadline = kNever;
    const char* what = "";
    bool cancellable = false;
    bool cancelRequested = false;
    enum Woke { kByReady, kByDeadline, kByCancel } woke = kByReady;
};

struct SimClock::Start {
    SimClock* clock;
    Member* member;
    void* (*entry)(void*);
    void* arg;
};

SimClock::SimClock(double speed) : speed_(speed > 0 ? speed : 0), id_(++g_clocks) {
    watchdog_ = std::thread(&SimClock::Watch, this);
}

SimClock::~SimClock() {
    {
        std::lock_guard<std::mutex> lock(watchMutex_);
        quit_ = true;
    }
    watchWake_.notify_all();
    watchdog_.join();
    if (t_clock == id_) t_clock = 0, t_member = nullptr;
}

void SimClock::SetSource(Source* source) {
    std::lock_guard<std::mutex> lock(mutex_);
    source_ = source;
}

void SimClock::SetReportFd(int fd) { reportFd_ = fd; }

SimClock::Member* SimClock::Self() const {
    return t_clock == id_ ? static_cast<Member*>(t_member) : nullptr;
}

bool SimClock::IsMember() const { return Self() != nullptr; }

// The calling thread joins; it runs at once when nobody holds the turn,
// else when the turn comes to it.
SimClock::Member* SimClock::Join(const char* name, std::unique_lock<std::mutex>& lock) {
    auto member = std::make_unique<Member>();
    Member* me = member.get();
    me->clock = this;
    me->seq = ++joined_;
    me->name = name ? name : "thread " + std::to_string(me->seq);
    me->thread = pthread_self();
    members_.push_back(std::move(member));
    t_clock = id_;
    t_member = me;
    if (!holder_) holder_ = me;
    me->turn.wait(lock, [&] { return holder_ == me; });
    me->state = Member::kRunning;
    return me;
}

void SimClock::Enter(const char* name) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (Member* me = Self())
        me->name = name;
    else
        Join(name, lock);
}

void SimClock::Leave() {
    Member* me = Self();
    if (!me) return;
    std::unique_lock<std::mutex> lock(mutex_);
    t_clock = 0;
    t_member = nullptr;
    const bool held = holder_ == me;
    members_.erase(std::find_if(members_.begin(), members_.end(), [&](const auto& m) { return m.get() == me; }));
    if (held) HandOver(lock);
}

bool SimClock::Wait(const std::function<bool()>& ready, int64_t deadline, const char* what) {
    const bool cancellable = CancelEnabled();
    if (handOverHook_ && Self()) handOverHook_();
    std::unique_lock<std::mutex> lock(mutex_);
    Member* me = Self();
    if (!me) me = Join(nullptr, lock);
    me->ready = &ready;
    me->deadline = deadline;
    me->what = what;
    me->cancellable = cancellable;
    me->state = Member::kWaiting;
    HandOver(lock);
    me->turn.wait(lock, [&] { return holder_ == me; });
    me->state = Member::kRunning;
    me->ready = nullptr;
    me->deadline = kNever;
    const Member::Woke woke = me->woke;
    lock.unlock();
    // A cancelled thread ends here, as it would in a cancellation point of
    // the kernel: its cleanup handlers run while it unwinds, the last of
    // which (the start's) hands the turn on.
    if (woke == Member::kByCancel) pthread_exit(PTHREAD_CANCELED);
    return woke == Member::kByReady;
}

void SimClock::SleepMicros(int64_t micros) {
    static const std::function<bool()> never = NeverReady;
    Wait(never, NowMicros() + std::max<int64_t>(micros, 0), "sleep");
}

void SimClock::Yield() {
    static const std::function<bool()> always = [] { return true; };
    Wait(always, kNever, "its turn");
}

bool SimClock::IsReady(Member& m) const {
    if (m.state == Member::kStarting) return true;
    if (m.state != Member::kWaiting) return false;
    if (m.cancellable && m.cancelRequested) {
        m.woke = Member::kByCancel;
        return true;
    }
    if (m.ready && (*m.ready)()) {
        m.woke = Member::kByReady;
        return true;
    }
    if (m.deadline <= now_) {
        m.woke = Member::kByDeadline;
        return true;
    }
    return false;
}

// The members in the order they joined, from the one after the last to
// have had the turn: no member that is always ready starves the others.
SimClock::Member* SimClock::PickReady() {
    Member* first = nullptr;
    for (const auto& m : members_) {
        if (m->seq > lastTurn_ && IsReady(*m)) return m.get();
        if (!first && m->seq <= lastTurn_ && IsReady(*m)) first = m.get();
    }
    return first;
}

// Called by the member that held the turn and gives it up (it waits, or
// it ends): delivers what is due, then passes the turn on, moving time
// forward as long as nobody is ready.
void SimClock::HandOver(std::unique_lock<std::mutex>& lock) {
    holder_ = nullptr;
    ++progress_;
    for (;;) {
        if (source_) source_->RunDue(now_);
        if (Member* next = PickReady()) {
            holder_ = next;
            lastTurn_ = next->seq;
            next->turn.notify_one();
            return;
        }
        int64_t due = source_ ? source_->NextDue() : kNever;
        bool alive = false;
        for (const auto& m : members_) {
            if (m->state == Member::kExited) continue;
            alive = true;
            if (m->state == Member::kWaiting) due = std::min(due, m->deadline);
        }
        if (!alive) return;
        if (due == kNever) Stalled("every thread waits for another and nothing is due", lock);
        if (due > now_) {
            Pace(due, lock);
            now_ = due;
        }
    }
}

void SimClock::Pace(int64_t to, std::unique_lock<std::mutex>&) {
    if (speed_ <= 0) return;
    const auto real = std::chrono::steady_clock::now();
    if (!anchored_) {
        anchored_ = true;
        realAnchor_ = real;
        anchorMicros_ = now_;
    }
    const auto target =
        realAnchor_ + std::chrono::microseconds(int64_t(double(to - anchorMicros_) / speed_));
    // In steps, so that the watchdog sees a long pause as progress.
    for (auto at = real; at < target; at = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_until(std::min(target, at + std::chrono::seconds(1)));
        ++progress_;
    }
}

void SimClock::Exit(Member* me) {
    std::unique_lock<std::mutex> lock(mutex_);
    me->state = Member::kExited;
    if (t_member == me) t_clock = 0, t_member = nullptr;
    if (holder_ == me) HandOver(lock);
}

void SimClock::ExitCleanup(void* member) {
    Member* me = static_cast<Member*>(member);
    me->clock->Exit(me);
}

void* SimClock::Trampoline(void* start) {
    const Start s = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    {
        std::unique_lock<std::mutex> lock(s.clock->mutex_);
        t_clock = s.clock->id_;
        t_member = s.member;
        s.member->turn.wait(lock, [&] { return s.clock->holder_ == s.member; });
        s.member->state = Member::kRunning;
    }
    void* result = nullptr;
    pthread_cleanup_push(ExitCleanup, s.member);
    result = s.entry(s.arg);
    pthread_cleanup_pop(1);
    return result;
}

int SimClock::StartThread(pthread_t* thread, void* (*entry)(void*), void* arg, const char* name) {
    // The creator is a member first, so that the order of members, and of
    // their turns, is the same in every run.
    std::unique_lock<std::mutex> lock(mutex_);
    if (!Self()) Join(nullptr, lock);
    auto member = std::make_unique<Member>();
    Member* m = member.get();
    m->clock = this;
    m->seq = ++joined_;
    m->name = name;
    auto* start = new Start{this, m, entry, arg};
    const int error = pthread_create(&m->thread, nullptr, Trampoline, start);
    if (error != 0) {
        delete start;
        return error;
    }
    members_.push_back(std::move(member));
    *thread = m->thread;
    return 0;
}

int SimClock::CancelThread(pthread_t thread) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& m : members_) {
        if (m->state != Member::kExited && pthread_equal(m->thread, thread)) {
            m->cancelRequested = true;
            return 0;
        }
    }
    return ESRCH;
}

int SimClock::JoinThread(pthread_t thread) {
    Member* target = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& m : members_)
            if (pthread_equal(m->thread, thread) && m.get() != Self()) target = m.get();
    }
    if (!target) return pthread_join(thread, nullptr);
    const std::function<bool()> ended = [target] { return target->state == Member::kExited; };
    Wait(ended, kNever, "the end of a thread");
    {
        std::lock_guard<std::mutex> lock(mutex_);
        members_.erase(std::find_if(members_.begin(), members_.end(), [&](const auto& m) { return m.get() == target; }));
    }
    // What is left of the thread is its unwinding, which needs no turn.
    return pthread_join(thread, nullptr);
}

std::string SimClock::Describe() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return DescribeLocked();
}

std::string SimClock::DescribeLocked() const {
    std::string text = "at " + std::to_string(now_.load()) + " us of simulated time:\n";
    for (const auto& m : members_) {
        text += "  " + m->name + ": ";
        switch (m->state) {
        case Member::kStarting:
            text += "starting";
            break;
        case Member::kRunning:
            text += holder_ == m.get() ? "running (holds the turn)" : "running";
            break;
        case Member::kWaiting:
            text += std::string("waiting for ") + m->what;
            if (m->deadline != kNever) text += " until " + std::to_string(m->deadline) + " us";
            if (m->cancelRequested) text += ", cancelled";
            break;
        case Member::kExited:
            text += "ended";
            break;
        }
        text += "\n";
    }
    return text;
}

void SimClock::Stalled(const char* why, std::unique_lock<std::mutex>&) {
    const std::string text = std::string("simulation stalled: ") + why + ", " + DescribeLocked();
    if (::write(reportFd_, text.data(), text.size()) < 0) {
    }
    std::abort();
}

// Real time: a member that keeps its turn for kStallSeconds while others
// wait is stuck outside the simulation (a real blocking call).
void SimClock::Watch() {
    uint64_t seen = progress_;
    int still = 0;
    std::unique_lock<std::mutex> lock(watchMutex_);
    while (!quit_) {
        watchWake_.wait_for(lock, std::chrono::seconds(1));
        if (quit_) break;
        const uint64_t now = progress_;
        still = now == seen ? still + 1 : 0;
        seen = now;
        if (still < kStallSeconds) continue;
        std::unique_lock<std::mutex> members(mutex_);
        bool waiting = false;
        for (const auto& m : members_) waiting = waiting || m->state == Member::kWaiting || m->state == Member::kStarting;
        if (waiting) Stalled("a thread has held its turn for too long while others wait", members);
        still = 0;
    }
}
