#include "platform/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace platform {
namespace {

std::atomic<LogLevel> currentLevel{kDefaultLogLevel};

constexpr const char* kPrefix = "TEKO: ";

}  // namespace

void SetLogLevel(LogLevel level) { currentLevel.store(level, std::memory_order_relaxed); }

LogLevel CurrentLogLevel() { return currentLevel.load(std::memory_order_relaxed); }

bool LogShows(LogLevel level) { return int(level) <= int(CurrentLogLevel()); }

}  // namespace platform

namespace {

// One vsnprintf into a fixed buffer and one write per call: output longer
// than 1023 characters is cut, and lines of two threads interleave only as
// whole writes. Returns what was written, 0 for a line not shown.
int Write(platform::LogLevel level, bool prefixed, const char* format, va_list args) {
    if (!platform::LogShows(level)) return 0;
    char buffer[1024];
    vsnprintf(buffer, sizeof buffer, format, args);
    return prefixed ? fprintf(stderr, "%s%s", platform::kPrefix, buffer) : fputs(buffer, stderr);
}

}  // namespace

#define TEKO_LOG_LINE(level, prefixed)                      \
    va_list args;                                           \
    va_start(args, format);                                 \
    const int written = Write(level, prefixed, format, args); \
    va_end(args);                                           \
    return written

int eWarning(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kWarning, true); }
int eDebug(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kInfo, true); }
int eTrace(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kDebug, true); }
int eTrace2(const char* format, ...) { TEKO_LOG_LINE(platform::LogLevel::kDebug, false); }
