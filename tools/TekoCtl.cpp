#include "TekoCtl.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/WorldFile.h"

const char kTekoCtlUsage[] =
    "usage: tekoctl tune SID VPID APID TPID ASPECT SEEKABLE PMT | tekoctl disable | tekoctl enable | "
    "tekoctl reload\n";

namespace {

// A whole decimal int, as the daemon reads it back: optional sign, digits,
// nothing else.
bool ParseInt(const char* text, int& value) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    long parsed = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) return false;
    // strtol skips leading blanks; an argument is a number or nothing.
    if (!(text[0] == '-' || text[0] == '+' || (text[0] >= '0' && text[0] <= '9'))) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string Failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + strerror(errno);
}

// /tmp is anyone's: a link there is never acted through, and nothing but
// a regular file is replaced or removed. Empty when the path is fine.
std::string Refusal(const char* fixedPath) {
    const std::string path = platform::Resolve(fixedPath);
    int error = 0;
    switch (platform::KindOf(fixedPath, error)) {
    case platform::FileKind::kAbsent:
    case platform::FileKind::kRegular:
        return "";
    case platform::FileKind::kError:
        errno = error;
        return Failure("cannot look at", path);
    case platform::FileKind::kLink:
        return "refusing to act through the symbolic link " + path;
    case platform::FileKind::kFifo:
        return "refusing to act on the FIFO " + path;
    default:
        return path + " is not a regular file; left as it is";
    }
}

// `text` as the whole new content of `fixedPath`: a new file of its own in
// the same folder (O_EXCL, so never through a link planted there), renamed
// into place, so that the daemon never sees half of it.
std::string Replace(const char* fixedPath, const std::string& text) {
    const std::string path = platform::Resolve(fixedPath);
    const std::string refusal = Refusal(fixedPath);
    if (!refusal.empty()) return refusal;
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    // A dot file: the daemon's folder may be watched by people listing it.
    std::string temp = folder + (name[0] == '.' ? "" : ".") + name + ".XXXXXX";
    int fd = mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) return Failure("cannot create a file in", folder);
    // Readable by a daemon that runs as another user. No fsync: the rename
    // alone makes the whole file visible at once to other processes, and a
    // file in /tmp need not outlive a crash.
    bool ok = fchmod(fd, 0644) == 0 && WriteAll(fd, text);
    std::string error = ok ? "" : Failure("cannot write", temp);
    if (close(fd) != 0 && ok) {
        ok = false;
        error = Failure("cannot write", temp);
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = Failure("cannot replace", path);
    }
    if (!ok) unlink(temp.c_str());
    return error;
}

int Reported(const std::string& error) {
    if (error.empty()) return 0;
    fprintf(stderr, "tekoctl: %s\n", error.c_str());
    return 1;
}

// The flag files only need to exist (the daemon never reads them).
int CreateFlag(const char* fixedPath) {
    int error = 0;
    if (platform::KindOf(fixedPath, error) == platform::FileKind::kRegular) return 0;
    return Reported(Replace(fixedPath, ""));
}

int RemoveFlag(const char* fixedPath) {
    const std::string path = platform::Resolve(fixedPath);
    std::string error = Refusal(fixedPath);
    if (error.empty() && unlink(path.c_str()) != 0 && errno != ENOENT) error = Failure("cannot remove", path);
    return Reported(error);
}

int Usage() {
    fputs(kTekoCtlUsage, stderr);
    return 2;
}

}  // namespace

std::string WriteHandOff(const int (&values)[7]) {
    std::string text;
    for (int value : values) text += std::to_string(value) + "\n";
    return Replace(paths::kHandOff, text);
}

int TekoCtlMain(int argc, const char* const* argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "tune") {
        if (argc != 9) return Usage();
        int values[7];
        for (int i = 0; i < 7; ++i) {
            if (!ParseInt(argv[2 + i], values[i])) return Usage();
        }
        const std::string error = WriteHandOff(values);
        if (!error.empty()) {
            fprintf(stderr, "tekoctl: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (argc != 2) return Usage();
    if (command == "disable") return CreateFlag(paths::kDisableFlag);
    if (command == "enable") return RemoveFlag(paths::kDisableFlag);
    if (command == "reload") return CreateFlag(paths::kReloadFlag);
    return Usage();
}
