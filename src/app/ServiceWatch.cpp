// gTEKOApp's service watch: the hand-off file that the front end's plugin
// rewrites on every change of service, and the two flag files.
#include <cstdio>
#include <cstring>

#include "platform/Log.h"
#include "app/gTEKOApp.h"
#include "config/NumberText.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {

// Reads the next line of the hand-off file into a zeroed 255-byte buffer
// (at most its first 254 characters) and scans it as "%d". The rest of an
// over-long line is skipped, so that line N of the file is always field N.
bool ReadNumberLine(FILE* file, int& value) {
    char line[255];
    memset(line, 0, sizeof line);
    size_t length = 0;
    int c = EOF;
    while (length < sizeof line - 1 && (c = getc(file)) != EOF) {
        line[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    if (length == 0) return false;
    if (c != '\n' && c != EOF) {
        while ((c = getc(file)) != EOF && c != '\n') {
        }
    }
    return ReadLeadingInt(line, 10, value);
}

int VideoFormatOf(int aspect) {
    switch (aspect) {
    case 0: case 1: case 5: case 9: case 13: return 4;
    default: return 16;
    }
}

// Opens a fixed path for reading and closes it again: 1 when that worked.
bool CanOpen(const char* fixedPath) {
    FILE* file = fopen(platform::Resolve(fixedPath).c_str(), "r");
    if (!file) return false;
    fclose(file);
    return true;
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

int gTEKOApp::IsDisabled() { return CanOpen(paths::kDisableFlag) ? 1 : 0; }

int gTEKOApp::HasServiceChanged() {
    FILE* file = fopen(platform::Resolve(paths::kHandOff).c_str(), "r");
    if (!file) {
        eDebug("Could not find TEKO.tmp...is Python plugin running?\n");
        ResetServiceState();
        return 0;
    }
    // The fields are stored one by one as they are read: a file caught
    // half-written keeps what was read, and because a new SID resets the
    // rest first, the next complete read still reports the change.
    int sid = 0;
    if (!ReadNumberLine(file, sid)) {
        eDebug("Failed to read SID\n");
        ResetServiceState();
        fclose(file);
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
            eDebug("%s", field.failure);
            fclose(file);
            return 0;
        }
        if (value != *field.member) changed = true;
        *field.member = value;
    }

    int aspect = 0;
    if (!ReadNumberLine(file, aspect)) {
        eDebug("Failed to read Aspect\n");
        aspect = 0;
    }
    const int format = VideoFormatOf(aspect);
    if (format != videoFormat) changed = true;
    videoFormat = format;

    int seekable = 0;
    if (!ReadNumberLine(file, seekable)) {
        eDebug("Failed to read Seekable\n");
        fclose(file);
        return 0;
    }
    const int mode = seekable != 0 ? 2 : 0;
    if (mode != playback) changed = true;
    playback = mode;

    int pmt = 0;
    if (!ReadNumberLine(file, pmt)) {
        eDebug("Failed to read PMT\n");
        fclose(file);
        return 0;
    }
    if (pmt != pmtPid) changed = true;
    pmtPid = pmt;
    if (pmt == -1) eDebug("Strange...no PMT??? Hrm...\n");
    fclose(file);

    FILE* reload = fopen(platform::Resolve(paths::kReloadFlag).c_str(), "r");
    if (reload) {
        // One request: the flag goes before the configuration is read.
        platform::Unlink(paths::kReloadFlag);
        eDebug("Reload configs requested.\n");
        loadConfiguration();
        fclose(reload);
        return 1;
    }
    return changed ? 1 : 0;
}
