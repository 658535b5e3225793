// gTEKOApp's service watch: the hand-off file that the front end's plugin
// rewrites on every change of service, and the two flag files.
#include <errno.h>
#include <fcntl.h>

#include <cstring>
#include <string>

#include "platform/Log.h"
#include "app/gTEKOApp.h"
#include "config/NumberText.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

namespace {

// The hand-off file is seven short lines; nothing past this many bytes is
// read, so a runaway file costs a bounded time at every poll.
constexpr size_t kMaxHandOffBytes = 65536;

// Reads the next line of the hand-off file (at most its first 254
// characters, as a zeroed 255-byte buffer holds them) and scans it as "%d".
// The rest of an over-long line is read past, so that line N of the file is
// always field N.
bool ReadNumberLine(platform::TextFile& file, int& value) {
    std::string line;
    if (!file.ReadLine(line, 254)) return false;
    return ReadLeadingInt(line.c_str(), 10, value);
}

int VideoFormatOf(int aspect) {
    switch (aspect) {
    case 0: case 1: case 5: case 9: case 13: return 4;
    default: return 16;
    }
}

// A flag file is there when the path holds a regular file; a link, FIFO,
// folder or device there is not looked into.
bool FlagSet(platform::FileState& state, const char* fixedPath) {
    int error = 0;
    const platform::FileKind kind = platform::KindOf(fixedPath, error);
    return state.Tell(kind, error);
}

// A failed line of the hand-off file: why, when it was not simply short.
void LogFailedLine(const platform::TextFile& file, const char* failure) {
    if (file.Error() != 0)
        eWarning("Could not read %s: %s\n", paths::kHandOff, strerror(file.Error()));
    else if (file.HitBound())
        eWarning("%s is larger than %zu bytes: the rest is not read\n", paths::kHandOff, kMaxHandOffBytes);
    eWarning("%s", failure);
}

}  // namespace

void gTEKOApp::ResetServiceState() {
    serviceId = -1;
    videoPid = -1;
    audioPid = -1;
    teletextPid = -1;
    pmtPid = -1;
    videoFormat = 4;
    playback = 0;
}

int gTEKOApp::IsDisabled() { return FlagSet(disableState, paths::kDisableFlag) ? 1 : 0; }

int gTEKOApp::HasServiceChanged() {
    platform::TextFile file(paths::kHandOff, kMaxHandOffBytes, platform::TextFile::kWorldWritable);
    handOffState.Tell(file.Kind(), file.Kind() == platform::FileKind::kError ? file.Error() : 0);
    if (!file.IsOpen()) {
        // The plugin's normal absence is told once, until the file comes.
        if (file.Kind() == platform::FileKind::kAbsent && !handOffMissing)
            eDebug("Could not find TEKO.tmp...is Python plugin running?\n");
        handOffMissing = true;
        ResetServiceState();
        return 0;
    }
    handOffMissing = false;
    // The fields are stored one by one as they are read: a file caught
    // half-written keeps what was read, and because a new SID resets the
    // rest first, the next complete read still reports the change.
    int sid = 0;
    if (!ReadNumberLine(file, sid)) {
        LogFailedLine(file, "Failed to read SID\n");
        ResetServiceState();
        return 0;
    }
    bool changed = false;
    if (sid != serviceId) {
        ResetServiceState();
        changed = true;
    }
    serviceId = sid;

    struct PidLine {
        const char* failure;
        int* member;
    };
    const PidLine pids[] = {{"Failed to read VPID\n", &videoPid},
                            {"Failed to read APID\n", &audioPid},
                            {"Failed to read TPID\n", &teletextPid}};
    for (const PidLine& field : pids) {
        int value = 0;
        if (!ReadNumberLine(file, value)) {
            LogFailedLine(file, field.failure);
            return 0;
        }
        if (value != *field.member) changed = true;
        *field.member = value;
    }

    int aspect = 0;
    if (!ReadNumberLine(file, aspect)) {
        LogFailedLine(file, "Failed to read Aspect\n");
        aspect = 0;
    }
    const int format = VideoFormatOf(aspect);
    if (format != videoFormat) changed = true;
    videoFormat = format;

    int seekable = 0;
    if (!ReadNumberLine(file, seekable)) {
        LogFailedLine(file, "Failed to read Seekable\n");
        return 0;
    }
    const int mode = seekable != 0 ? 2 : 0;
    if (mode != playback) changed = true;
    playback = mode;

    int pmt = 0;
    if (!ReadNumberLine(file, pmt)) {
        LogFailedLine(file, "Failed to read PMT\n");
        return 0;
    }
    if (pmt != pmtPid) changed = true;
    pmtPid = pmt;
    if (pmt == -1) eWarning("Strange...no PMT??? Hrm...\n");

    if (FlagSet(reloadState, paths::kReloadFlag)) {
        // One request: the flag goes before the configuration is read.
        platform::Unlink(paths::kReloadFlag);
        eDebug("Reload configs requested.\n");
        loadConfiguration();
        return 1;
    }
    return changed ? 1 : 0;
}
