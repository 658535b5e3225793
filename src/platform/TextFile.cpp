#include "platform/TextFile.h"

#include <errno.h>
#include <fcntl.h>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

namespace platform {

TextFile::TextFile(const char* fixedPath, size_t maxBytes) : maxBytes_(maxBytes) {
    fd_ = Open(fixedPath, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = errno;
        fd_ = -1;
        kind_ = error_ == ENOENT ? FileKind::kAbsent : FileKind::kError;
    }
}

TextFile::TextFile(const char* fixedPath, size_t maxBytes, WorldWritable) : maxBytes_(maxBytes) {
    fd_ = OpenRegular(fixedPath, kind_, error_);
    if (fd_ < 0 && kind_ == FileKind::kAbsent) error_ = ENOENT;
}

TextFile::~TextFile() {
    if (fd_ >= 0) Close(fd_);
}

// One read into the buffer; false at the end, the bound or an error.
bool TextFile::Fill() {
    if (fd_ < 0 || end_ || error_) return false;
    size_t want = sizeof buffer_;
    if (maxBytes_ != 0) {
        if (total_ >= maxBytes_) {
            hitBound_ = true;
            return false;
        }
        want = std::min(want, maxBytes_ - total_);
    }
    for (;;) {
        const ssize_t n = Read(fd_, buffer_, want);
        if (n > 0) {
            pos_ = 0;
            length_ = size_t(n);
            total_ += size_t(n);
            return true;
        }
        if (n == 0) {
            end_ = true;
            return false;
        }
        if (errno == EINTR) continue;
        error_ = errno;
        return false;
    }
}

bool TextFile::ReadLine(std::string& line, size_t keep) {
    line.clear();
    bool any = false;
    for (;;) {
        if (pos_ == length_ && !Fill()) return any && !error_ && !hitBound_;
        any = true;
        const char* start = buffer_ + pos_;
        const size_t left = length_ - pos_;
        const char* feed = static_cast<const char*>(std::memchr(start, '\n', left));
        const size_t take = feed ? size_t(feed - start) : left;
        if (line.size() < keep) line.append(start, std::min(take, keep - line.size()));
        pos_ += take;
        if (feed) {
            ++pos_;
            return true;
        }
    }
}

int ReadWholeFile(const char* fixedPath, std::vector<unsigned char>& out, size_t maxBytes) {
    out.clear();
    const int fd = Open(fixedPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    unsigned char chunk[65536];
    for (;;) {
        const ssize_t n = Read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) break;
        if (out.size() + size_t(n) > maxBytes) {
            error = EFBIG;
            break;
        }
        out.insert(out.end(), chunk, chunk + n);
    }
    Close(fd);
    if (error) out.clear();
    return error;
}

}  // namespace platform
