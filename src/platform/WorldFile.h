// Files in world-writable folders (/tmp): anyone on the box can put a
// link, a FIFO, a device node or a folder where the front end writes its
// files. The daemon runs as root, so it never follows a link there and
// never blocks on an open: only a regular file counts, anything else is
// taken as absent, and told once per state of the path.
#pragma once

namespace platform {

enum class FileKind { kAbsent, kRegular, kLink, kFifo, kFolder, kDevice, kOther, kError };

const char* KindName(FileKind kind);
// What the path holds, without following a link; `error` is the errno of
// a failed look (kError).
FileKind KindOf(const char* fixedPath, int& error);
// Opens the path for reading without following a link or blocking
// (O_NOFOLLOW | O_NONBLOCK), then checks what was opened: the descriptor
// of a regular file, else -1 with what the path held instead.
int OpenRegular(const char* fixedPath, FileKind& kind, int& error);

// One log line whenever a path's state changes to one that is not the
// path's normal absence or a regular file.
class FileState {
public:
    explicit FileState(const char* fixedPath) : path_(fixedPath) {}
    // True when `kind` counts as the file being there.
    bool Tell(FileKind kind, int error);

private:
    const char* path_;
    FileKind last_ = FileKind::kAbsent;
    int lastError_ = 0;
};

}  // namespace platform
