#include "platform/WorldFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/Log.h"
#include "platform/Platform.h"

namespace platform {

namespace {

FileKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return FileKind::kRegular;
    if (S_ISLNK(mode)) return FileKind::kLink;
    if (S_ISFIFO(mode)) return FileKind::kFifo;
    if (S_ISDIR(mode)) return FileKind::kFolder;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
    return FileKind::kOther;
}

}  // namespace

const char* KindName(FileKind kind) {
    switch (kind) {
    case FileKind::kAbsent: return "absent";
    case FileKind::kRegular: return "a regular file";
    case FileKind::kLink: return "a symbolic link";
    case FileKind::kFifo: return "a FIFO";
    case FileKind::kFolder: return "a folder";
    case FileKind::kDevice: return "a device";
    case FileKind::kOther: return "not a regular file";
    case FileKind::kError: return "unreadable";
    }
    return "unknown";
}

FileKind KindOf(const char* fixedPath, int& error) {
    struct stat st;
    error = 0;
    if (Current().Lstat(fixedPath, &st) == 0) return KindOfMode(st.st_mode);
    error = errno;
    return error == ENOENT || error == ENOTDIR ? FileKind::kAbsent : FileKind::kError;
}

int OpenRegular(const char* fixedPath, FileKind& kind, int& error) {
    // Nothing but a regular file is opened at all: opening a device node
    // can act on the device.
    kind = KindOf(fixedPath, error);
    if (kind != FileKind::kRegular) return -1;
    const int fd = Open(fixedPath, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        // O_NOFOLLOW fails with ELOOP on a link.
        kind = error == ENOENT || error == ENOTDIR ? FileKind::kAbsent
               : error == ELOOP                    ? FileKind::kLink
                                                   : FileKind::kError;
        return -1;
    }
    struct stat st;
    if (Current().Fstat(fd, &st) != 0) {
        error = errno;
        kind = FileKind::kError;
    } else {
        kind = KindOfMode(st.st_mode);
    }
    // What was opened is checked again: the path may have changed since.
    if (kind == FileKind::kRegular) return fd;
    Close(fd);
    return -1;
}

bool FileState::Tell(FileKind kind, int error) {
    const bool normal = kind == FileKind::kAbsent || kind == FileKind::kRegular;
    if (!normal && (kind != last_ || error != lastError_)) {
        if (kind == FileKind::kError)
            eWarning("%s: %s; taken as absent\n", path_, strerror(error));
        else
            eWarning("%s is %s, not a regular file; taken as absent\n", path_, KindName(kind));
    }
    last_ = kind;
    lastError_ = error;
    return kind == FileKind::kRegular;
}

}  // namespace platform
