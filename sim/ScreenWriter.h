// Writes the screens of a simulator run on a thread of its own: at a blit
// the daemon pays for a copy of the rows that changed, not for a PNG
// encoding, so a fast replay keeps the pace a box would have. The thread
// keeps its own copy of the screen and applies the changes in order. Optionally also writes
// the raw screen beside each PNG, for pixel comparisons:
//   NNNNNN.raw: the screen's width x height pixels, row by row, without
//   the line padding; 4 bytes a pixel (the 32-bit word 0xAARRGGBB, little-endian)
//   at 32 bits per pixel, else 1 byte (the palette index).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Palette.h"

class ScreenWriter {
public:
    // `memoryBytes`: the size of the screen memory, all zero at the start;
    // `width` x `height`: the visible screen. `palette`: how 8-bit pixels
    // are shown.
    ScreenWriter(std::string folder, bool raw, int bitsPerPixel, int lineLength, size_t memoryBytes, int width,
                 int height, const Palette::Colours& palette);
    ~ScreenWriter();
    ScreenWriter(const ScreenWriter&) = delete;
    ScreenWriter& operator=(const ScreenWriter&) = delete;

    static std::string PngName(int blit);
    static std::string RawName(int blit);

    // Copies rows `firstRow` to `lastRow` of the screen memory at blit number `blit` and queues them; waits while
    // kMaxQueuedBytes are still waiting (a bound on memory).
    void Add(int blit, const uint8_t* memory, int firstRow, int lastRow);
    // Writes what is queued and ends the thread.
    void Finish();
    // CPU time the writing thread used, once finished; files not written.
    double CpuSeconds() const { return cpuSeconds_; }
    int Failures() const { return failures_; }

    static constexpr size_t kMaxQueuedBytes = 64u << 20;

private:
    struct Rows {
        int blit;
        size_t offset;  // into the screen memory
        std::vector<uint8_t> bytes;
    };
    void Run();
    bool WriteRaw(const std::string& path, const std::vector<uint8_t>& memory) const;

    std::string folder_;
    bool raw_;
    int bitsPerPixel_;
    int lineLength_;
    int width_;
    int height_;
    Palette::Colours palette_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Rows> queue_;
    size_t queuedBytes_ = 0;
    std::vector<uint8_t> screen_;  // the writer's copy of the screen memory (its thread's)
    bool done_ = false;
    std::thread thread_;
    std::atomic<double> cpuSeconds_{0};
    std::atomic<int> failures_{0};
};
