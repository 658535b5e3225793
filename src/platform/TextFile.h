// A text file of the daemon's (the configuration, the hand-off file) read
// line by line through the platform layer: the backend decides where the
// fixed path lives, and can fail the open or the reads as a broken disk or
// a wrong permission would.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/WorldFile.h"

namespace platform {

class TextFile {
public:
    // Opens `fixedPath` for reading. No more than `maxBytes` bytes of it are
    // ever read (0: no bound), so a runaway file costs a bounded time.
    explicit TextFile(const char* fixedPath, size_t maxBytes = 0);
    // A file in a world-writable folder: opened as OpenRegular opens it;
    // anything but a regular file stays closed, Kind() telling what it was.
    enum WorldWritable { kWorldWritable };
    TextFile(const char* fixedPath, size_t maxBytes, WorldWritable);
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The errno of the failed open or of the read that failed, else 0.
    int Error() const { return error_; }
    // True once the byte bound stopped the reading.
    bool HitBound() const { return hitBound_; }
    FileKind Kind() const { return kind_; }

    // The next line, without its line feed. At most `keep` characters are
    // stored; the rest of a longer line is read past. False at the end of
    // the file (a last line without line feed still counts), after a read
    // error, and at the byte bound (a line it cuts does not count).
    bool ReadLine(std::string& line, size_t keep = std::string::npos);

private:
    bool Fill();

    int fd_ = -1;
    int error_ = 0;
    size_t maxBytes_ = 0;
    size_t total_ = 0;
    bool hitBound_ = false;
    bool end_ = false;
    FileKind kind_ = FileKind::kRegular;
    size_t pos_ = 0;
    size_t length_ = 0;
    char buffer_[4096];
};

// Reads a whole file of at most `maxBytes` bytes through the platform layer.
// 0 on success, else the errno of the failure (EFBIG: larger than allowed).
int ReadWholeFile(const char* fixedPath, std::vector<unsigned char>& out, size_t maxBytes);

}  // namespace platform
