#include "ScreenWriter.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "EmulatedFrameBuffer.h"
#include "PngWriter.h"

namespace {
std::string Numbered(int blit, const char* suffix) {
    char name[40];
    std::snprintf(name, sizeof name, "%06d.%s", blit, suffix);
    return name;
}
}  // namespace

ScreenWriter::ScreenWriter(std::string folder, bool raw, int bitsPerPixel, int lineLength, size_t memoryBytes,
                           int width, int height, const Palette::Colours& palette)
    : folder_(std::move(folder)),
      raw_(raw),
      bitsPerPixel_(bitsPerPixel),
      lineLength_(lineLength),
      width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      palette_(palette),
      screen_(memoryBytes, 0) {
    thread_ = std::thread(&ScreenWriter::Run, this);
}

ScreenWriter::~ScreenWriter() { Finish(); }

std::string ScreenWriter::PngName(int blit) { return Numbered(blit, "png"); }
std::string ScreenWriter::RawName(int blit) { return Numbered(blit, "raw"); }

void ScreenWriter::Add(int blit, const uint8_t* memory, int firstRow, int lastRow) {
    const size_t bytes = screen_.size();
    const size_t stride = size_t(lineLength_ > 0 ? lineLength_ : 0);
    const size_t from = std::min(bytes, size_t(std::max(firstRow, 0)) * stride);
    const size_t to = std::min(bytes, size_t(std::max(lastRow + 1, 0)) * stride);
    Rows rows{blit, from, std::vector<uint8_t>()};
    if (memory && to > from) rows.bytes.assign(memory + from, memory + to);
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queuedBytes_ + rows.bytes.size() <= kMaxQueuedBytes || queue_.empty() || done_; });
    queuedBytes_ += rows.bytes.size();
    queue_.push_back(std::move(rows));
    changed_.notify_all();
}

void ScreenWriter::Finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ScreenWriter::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queue_.empty() || done_; });
        if (queue_.empty()) break;
        Rows rows = std::move(queue_.front());
        queue_.pop_front();
        queuedBytes_ -= rows.bytes.size();
        changed_.notify_all();
        std::copy(rows.bytes.begin(), rows.bytes.end(), screen_.begin() + long(rows.offset));
        lock.unlock();
        const std::vector<uint8_t> rgb = EmulatedFrameBuffer::ComposeRgb(screen_.data(), screen_.size(), bitsPerPixel_,
                                                                         lineLength_, width_, height_, palette_);
        bool ok = WriteRgbPng(folder_ + "/" + PngName(rows.blit), width_, height_, rgb);
        if (raw_) ok = WriteRaw(folder_ + "/" + RawName(rows.blit), screen_) && ok;
        if (!ok) ++failures_;
        lock.lock();
    }
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    cpuSeconds_ = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool ScreenWriter::WriteRaw(const std::string& path, const std::vector<uint8_t>& memory) const {
    const size_t bpp = bitsPerPixel_ == 32 ? 4 : 1;
    const size_t row = size_t(width_) * bpp;
    std::vector<uint8_t> out(row * size_t(height_), 0);
    const size_t stride = size_t(lineLength_ > 0 ? lineLength_ : 0);
    for (size_t y = 0; stride && y < size_t(height_); ++y) {
        const size_t at = y * stride;
        if (at >= memory.size()) break;
        const size_t n = std::min(row, std::min(stride, memory.size() - at));
        std::copy(memory.begin() + long(at), memory.begin() + long(at + n), out.begin() + long(y * row));
    }
    // The file holds each 32-bit pixel word little-endian, whatever the byte
    // order of the machine that wrote it.
    for (size_t i = 0; bpp == 4 && i + 4 <= out.size(); i += 4) {
        uint32_t word;
        std::memcpy(&word, &out[i], 4);
        for (int b = 0; b < 4; ++b) out[i + size_t(b)] = uint8_t(word >> (8 * b));
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    return std::fclose(file) == 0 && ok;
}
