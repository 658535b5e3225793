// An emulated box framebuffer for "/dev/fb/0": screen memory that the
// unchanged display code maps with mmap, the kernel's screen-information
// answers, and the box driver's FBIO_BLIT request, counted, optionally
// failing, and optionally saving what the viewer would see as a PNG.
//
// Attach it with SimBackend::Attach(paths::kFrameBuffer, &fb).
//
// Screen memory is a memfd of line_length * yres bytes (or `memoryBytes`).
// Every mapping handed out has an inaccessible guard page before and after
// it, and the bytes between the end of the memory and the end of its last
// page hold a canary (TailIntact), so a write outside the memory is caught.
//
// PNG screens are xres x yres (the visible screen) and composited over a
// fixed backdrop colour, RGB 0x30 0x50 0x70, that stands for the
// video: what is transparent on the OSD shows as that blue-grey.
// 32-bit pixels are read as 0xAARRGGBB words; 8-bit pixels are palette
// indexes, shown through the configured palette (Palette.h: by default
// what the daemon's default settings mean).
#pragma once

#include <linux/fb.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Palette.h"
#include "SimDevice.h"

struct FrameBufferConfig {
    int bitsPerPixel = 32;  // 32, or 8 (any other depth is one byte per pixel too)
    int xres = 720;
    int yres = 576;
    int lineLength = 0;   // bytes per line; 0 means xres * bytes per pixel
    int memoryBytes = 0;  // smem_len; 0 means lineLength * yres
    bool failVScreenInfo = false;
    bool failFScreenInfo = false;
    bool failMmap = false;
    int failingBlits = 0;   // the next N FBIO_BLIT requests fail (EINVAL); -1: all
    // A driver without FBIO_BLIT: the request fails with ENOTTY and the
    // memory is the screen; Capture stands for the viewer's eye.
    bool noBlit = false;
    std::string pngFolder;  // where changed screens are saved; empty: none
    Palette::Colours palette = Palette::Default();  // of 8-bit screens
};

class EmulatedFrameBuffer : public SimDevice {
public:
    // One successful FBIO_BLIT. Rows are the first and last screen row
    // (0 to yres - 1) that changed since the previous blit, -1 when nothing did.
    struct BlitEvent {
        int number;  // 1 for the first successful blit
        int firstRow;
        int lastRow;
        std::string png;  // the file written, or empty
    };
    using BlitObserver = std::function<void(const BlitEvent&)>;

    static constexpr uint8_t kBackdrop[3] = {0x30, 0x50, 0x70};

    explicit EmulatedFrameBuffer(const FrameBufferConfig& config = FrameBufferConfig());
    ~EmulatedFrameBuffer() override;
    EmulatedFrameBuffer(const EmulatedFrameBuffer&) = delete;
    EmulatedFrameBuffer& operator=(const EmulatedFrameBuffer&) = delete;

    int Open(int flags) override;
    bool Owns(int fd) const override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(size_t length, int prot, int flags, int fd, off_t offset) override;
    int Munmap(void* addr, size_t length) override;

    void SetFailingBlits(int count);
    // Every `period`-th FBIO_BLIT request fails (a driver that fails now and
    // then); 0 ends it. Counted from the call.
    void SetBlitFailurePeriod(int period);
    // FBIOGET_VSCREENINFO / FBIOGET_FSCREENINFO fail (EINVAL) while set.
    void SetScreenInfoFailures(bool var, bool fix);
    void SetPngFolder(const std::string& folder);
    // Called on the blitting thread after each successful FBIO_BLIT, and
    // after each Capture that found a change.
    void SetBlitObserver(BlitObserver observer);
    // Another display's drawing, straight into the screen memory: the
    // rectangle (clipped to the memory) filled with an opaque dark grey
    // (32 bits: 0xFF404040; 8 bits: index 10), or with 0 to erase it.
    static constexpr uint32_t kMenuWord = 0xFF404040u;
    static constexpr uint8_t kMenuIndex = 10;
    void PaintRect(int x, int y, int width, int height, bool opaque);
    // The screen as a viewer sees it now, where the memory is the screen:
    // when it changed since the last look, an event as a blit would give.
    void Capture();

    int BlitRequests() const { return requests_; }
    int Blits() const { return blits_; }
    int FailedBlits() const { return failed_; }
    int OpenDescriptors() const;
    int Mappings() const;

    int BitsPerPixel() const { return config_.bitsPerPixel; }
    int LineLength() const { return config_.lineLength; }
    // The visible screen (xres x yres).
    int Width() const { return std::max(0, config_.xres); }
    int Height() const { return std::max(0, config_.yres); }
    size_t MemoryBytes() const { return memoryBytes_; }
    // The screen memory itself (what the daemon draws into).
    uint8_t* Memory() { return view_; }

    // Pixel readers: 0 for a pixel outside the memory.
    uint32_t Word(int x, int y) const;  // 32-bit screens: 0xAARRGGBB
    uint8_t Index(int x, int y) const;  // one-byte screens: palette index
    // The colour a viewer gets, 0xAARRGGBB, on either depth.
    uint32_t Argb(int x, int y) const;
    uint32_t PaletteArgb(uint8_t index) const { return config_.palette[index]; }
    // True while nothing was written past the end of the memory.
    bool TailIntact() const;

    // The visible screen as it is now, as a PNG.
    bool WritePng(const std::string& path) const;
    // A screen memory of `bytes` bytes (`lineLength` bytes a line) as the
    // viewer sees it: width x height RGB, 3 bytes a pixel, over the
    // backdrop. Lets a copy taken at a blit be written later, off the
    // daemon's path.
    static std::vector<uint8_t> ComposeRgb(const uint8_t* memory, size_t bytes, int bitsPerPixel, int lineLength,
                                           int width, int height, const Palette::Colours& palette);
    const Palette::Colours& Colours() const { return config_.palette; }

private:
    int BytesPerPixel() const { return config_.bitsPerPixel == 32 ? 4 : 1; }
    int VisibleLines() const;
    int Blit();
    // The rows changed since the last blit or capture, copied to the shadow
    // (mutex_ held); fills `event` and says whether anything changed.
    bool TakeChanges(BlitEvent& event);

    FrameBufferConfig config_;
    size_t memoryBytes_ = 0;
    size_t pageBytes_ = 0;
    size_t fileBytes_ = 0;
    int memfd_ = -1;
    uint8_t* view_ = nullptr;
    std::vector<uint8_t> shadow_;  // the screen at the previous blit

    mutable std::mutex mutex_;
    std::set<int> fds_;
    struct Reservation {
        void* base;
        size_t bytes;
    };
    std::map<void*, Reservation> mappings_;
    int failingBlits_ = 0;
    int blitFailurePeriod_ = 0;
    int blitsInPeriod_ = 0;
    std::string pngFolder_;
    BlitObserver observer_;
    std::atomic<int> requests_{0};
    std::atomic<int> blits_{0};
    std::atomic<int> failed_{0};
};
