// For the targets of the daemon's own files: a private folder standing in
// for "/", installed as the platform backend's root for the whole run, and
// the input written at a fixed path under it before each call of the
// reader. The folder is removed at exit. Only warnings are logged: the
// readers' info lines would cost more than the parsing.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/Log.h"
#include "platform/Platform.h"

namespace fuzzroot {

inline std::string& Folder() {
    static std::string folder;
    return folder;
}

inline void RemoveAll() {
    // Only what Write can have made: the two folders and their files.
    for (const char* sub : {"/etc", "/tmp"}) {
        const std::string dir = Folder() + sub;
        for (const char* name : {"TEKO.conf", "TEKO.channels", "TEKO.translation", "TEKO.tmp"})
            unlink((dir + "/" + name).c_str());
        rmdir(dir.c_str());
    }
    rmdir(Folder().c_str());
}

// Once per process: the folder, with etc/ and tmp/, as the backend's root.
inline void Install() {
    if (!Folder().empty()) return;
    // Memory, where there is a tmpfs: on a disk's file system every
    // truncation of a written file can cost a flush, a hundred times the
    // parse.
    const char* base = getenv("TMPDIR");
    if (access("/dev/shm", W_OK) == 0) base = "/dev/shm";
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/teko-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) abort();
    Folder() = pattern;
    mkdir((pattern + "/etc").c_str(), 0700);
    mkdir((pattern + "/tmp").c_str(), 0700);
    static platform::RootedBackend backend(pattern);
    platform::Install(&backend);
    platform::SetLogLevel(platform::LogLevel::kWarning);
    atexit(RemoveAll);
}

// The input, whole, as the file at `fixedPath` (such as "/etc/TEKO.conf").
inline void Write(const char* fixedPath, const uint8_t* data, size_t size) {
    Install();
    const std::string path = Folder() + fixedPath;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) abort();
        done += size_t(n);
    }
    close(fd);
}

}  // namespace fuzzroot
