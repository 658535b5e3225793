#include "platform/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/Platform.h"

namespace platform {
namespace {

std::atomic<LogLevel> currentLevel{kDefaultLogLevel};

constexpr const char* kPrefix = "TEKO: ";

// The bound: lines of one message a minute, and how many messages are
// followed at a time (a new one takes the place of the oldest).
constexpr int kBurst = 5;
constexpr int64_t kWindowMicros = 60LL * 1000 * 1000;
constexpr size_t kTallies = 64;

struct Tally {
    const char* format = nullptr;  // the message: its call site's format
    int64_t start = 0;             // its minute began
    int shown = 0;
    long suppressed = 0;
};

Mutex& TallyMutex() {
    static Mutex mutex;
    return mutex;
}
Tally tallies[kTallies];

// A message as its summary names it: its format up to the first
// conversion or line end, at most 60 characters.
void Summarise(const Tally& t) {
    if (!t.suppressed) return;
    const size_t length = std::min<size_t>(std::strcspn(t.format, "%\n"), 60);
    fprintf(stderr, "%s\u2026 %ld more like this in the last minute: %.*s\n", kPrefix, t.suppressed, int(length),
            t.format);
}

void FlushExpired(int64_t now) {
    for (Tally& t : tallies) {
        if (!t.format || now - t.start < kWindowMicros) continue;
        Summarise(t);
        t = Tally();
    }
}

// Whether a line of `format` may be written now.
bool Admit(const char* format) {
    std::lock_guard<Mutex> guard(TallyMutex());
    const int64_t now = Current().MonotonicMicros();
    FlushExpired(now);
    Tally* slot = nullptr;
    for (Tally& t : tallies) {
        if (t.format == format) {
            slot = &t;
            break;
        }
        if (!slot || (slot->format && (!t.format || t.start < slot->start))) slot = &t;
    }
    if (slot->format != format) {
        if (slot->format) Summarise(*slot);
        *slot = Tally{format, now, 0, 0};
    }
    if (slot->shown >= kBurst) {
        ++slot->suppressed;
        return false;
    }
    ++slot->shown;
    return true;
}

}  // namespace

void FlushRepeats() {
    if (LogShows(LogLevel::kDebug)) return;
    std::lock_guard<Mutex> guard(TallyMutex());
    FlushExpired(Current().MonotonicMicros());
}

void SetLogLevel(LogLevel level) { currentLevel.store(level, std::memory_order_relaxed); }

LogLevel CurrentLogLevel() { return currentLevel.load(std::memory_order_relaxed); }

bool LogShows(LogLevel level) { return int(level) <= int(CurrentLogLevel()); }

}  // namespace platform

namespace {

// One vsnprintf into a fixed buffer and one write per call: output longer
// than 1023 characters is cut, and lines of two threads interleave only as
// whole writes. Returns what was written, 0 for a line not shown.
int Write(platform::LogLevel level, bool prefixed, const char* format, va_list args, bool bounded = true) {
    if (!platform::LogShows(level)) return 0;
    // The trace level shows everything, as it came.
    if (bounded && !platform::LogShows(platform::LogLevel::kDebug) && !platform::Admit(format)) return 0;
    char buffer[1024];
    vsnprintf(buffer, sizeof buffer, format, args);
    return prefixed ? fprintf(stderr, "%s%s", platform::kPrefix, buffer) : fputs(buffer, stderr);
}

}  // namespace

#define TEKO_LOG_LINE(level, prefixed, ...)                              \
    va_list args;                                                        \
    va_start(args, format);                                              \
    const int written = Write(level, prefixed, format, args, ##__VA_ARGS__); \
    va_end(args);                                                        \
    return written

int eWarning(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kWarning, true); }
int eDebug(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kInfo, true); }
int eTrace(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kDebug, true); }
int eTrace2(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kDebug, false); }
int eListing(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kInfo, true, false); }
