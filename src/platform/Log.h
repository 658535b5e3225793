// The daemon's only output channel besides the screen: lines on standard
// error, "TEKO: " first. Callers end their own formats with "\n".
//
// Each line has a level, and only lines at or below the platform's level
// are written (a line that is not written is not formatted either):
//   eWarning  errors and warnings: a fault, a failed device, broken data
//   eDebug    info: what the daemon did, once per event a box owner cares
//             about (service change, selection, filter start and stop)
//   eTrace    debug: the decoders' trace, per packet, segment, region, row
// A box keeps its log in RAM or on flash for months, so the daemon shows
// info and below; the simulator shows everything unless told otherwise.
// Below the debug level every message is bounded: after a few lines a
// minute of one message (one format), the rest of that minute is counted
// and told in one summary line, whatever a broadcast or a missing device
// makes the daemon repeat.
#pragma once

namespace platform {

enum class LogLevel { kWarning, kInfo, kDebug };

// What `tekod` shows when nothing sets another level.
constexpr LogLevel kDefaultLogLevel = LogLevel::kInfo;

// Safe from any thread; takes effect with the next line.
void SetLogLevel(LogLevel level);
LogLevel CurrentLogLevel();
// True when a line of `level` would be written.
bool LogShows(LogLevel level);
// Writes the summary lines of the minutes that are over; the main loop
// calls it at every poll, so that a message that stopped is told too.
void FlushRepeats();

}  // namespace platform

int eWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
int eDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
int eTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// An info line of a listing the daemon writes whole on purpose, once per
// event (the settings at each load): not bounded.
int eListing(const char* format, ...) __attribute__((format(printf, 1, 2)));
// eTrace without the prefix (the Teletext page dump).
int eTrace2(const char* format, ...) __attribute__((format(printf, 1, 2)));
