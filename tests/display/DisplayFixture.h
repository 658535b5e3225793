// A FrameBufferDevice on an emulated framebuffer under a temporary root,
// with DejaVu Sans installed as the box's default font.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "EmulatedFrameBuffer.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "display/FrameBufferDevice.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

namespace display_test {

constexpr const char* kSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kMono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";

inline bool CopyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    return bool(out);
}

// The pixel a colour gives on a screen of `bpp` bits.
inline uint32_t Expected(int bpp, uint32_t colour) {
    return bpp == 32 ? (colour >> 8 | colour << 24) : (colour & 0xFF);
}

class Rig {
public:
    explicit Rig(const FrameBufferConfig& config = FrameBufferConfig())
        : backend_(root_.Path(), clock_), fb_(config) {
        platform::Install(&backend_);
        backend_.Attach(paths::kFrameBuffer, &fb_);
        fontInstalled_ = CopyFile(kSans, root_.At(paths::kDefaultFont)) &&
                         CopyFile(kMono, root_.At("/usr/share/fonts/mono.ttf"));
    }
    ~Rig() {
        device.Destroy();
        platform::Install(nullptr);
    }

    bool FontInstalled() const { return fontInstalled_; }
    // Creates the device quietly; true on success.
    bool Create(const std::string& font = paths::kDefaultFont) {
        testing::internal::CaptureStderr();
        int result = device.Create(font);
        testing::internal::GetCapturedStderr();
        return result == 0;
    }
    EmulatedFrameBuffer& Fb() { return fb_; }
    SimBackend& Backend() { return backend_; }
    TempRoot& Root() { return root_; }
    // The stored pixel: the 32-bit word, or the palette index.
    uint32_t At(int x, int y) const {
        return fb_.BitsPerPixel() == 32 ? fb_.Word(x, y) : fb_.Index(x, y);
    }
    uint32_t Want(uint32_t colour) const { return Expected(fb_.BitsPerPixel(), colour); }
    // Number of pixels in [x0,x1) x [y0,y1) whose stored value is not 0.
    int Ink(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += At(x, y) != 0;
        return n;
    }

    FrameBufferDevice device;

private:
    TempRoot root_;
    SimClock clock_;
    SimBackend backend_;
    EmulatedFrameBuffer fb_;
    bool fontInstalled_ = false;
};

// Screen geometries every device rule must hold on.
struct Geometry {
    const char* name;
    int bpp;
    int lineLength;  // 0: packed
};

inline FrameBufferConfig ConfigOf(const Geometry& g) {
    FrameBufferConfig c;
    c.bitsPerPixel = g.bpp;
    c.lineLength = g.lineLength;
    return c;
}

}  // namespace display_test
