// A display device for the DVB decoder's tests and fuzz target: it keeps a
// 720 x 576 plane of one byte per pixel (as a one-byte screen would), or of
// 0xAARRGGBB words when made with 32 bits per pixel, records
// what was asked of it, and checks every write against the screen. A write
// that would leave the screen, a blit outside Lock/UnLock or an unbalanced
// lock counts as a violation, and aborts at once when `abortOnViolation` is
// set (the fuzz target), so the sanitizers and libFuzzer see it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/IDisplayDevice.h"

class CheckingDisplay : public IDisplayDevice {
public:
    struct Blit {
        int x, y, width, height;
    };
    struct Rect {
        int x, y, width, height, colour;
    };

    explicit CheckingDisplay(bool abortOnViolation = false, int bitsPerPixel = 8)
        : bpp(bitsPerPixel), abort_(abortOnViolation) {
        if (bpp == 32) words.resize(size_t(kScreenWidth) * kScreenHeight);
        Reset();
    }
    virtual ~CheckingDisplay() = default;

    void Reset() {
        std::memset(plane, 0, sizeof plane);
        std::fill(words.begin(), words.end(), 0u);
        argbBlits.clear();
        std::memset(palette, 0, sizeof palette);
        blits.clear();
        rects.clear();
        paletteWrites = 0;
        locks = unlocks = reads = 0;
        violations.clear();
        locked_ = false;
    }
    // Every blit and every rectangle fill of the last Reset.
    std::vector<Blit> blits;
    std::vector<Blit> argbBlits;
    const int bpp;
    std::vector<uint32_t> words;  // the 32-bit screen, row after row
    std::vector<Rect> rects;
    int palette[256];
    int paletteWrites = 0;
    int locks = 0, unlocks = 0, reads = 0;
    std::vector<std::string> violations;
    unsigned char plane[kScreenHeight][kScreenWidth];

    unsigned char At(int x, int y) const { return plane[y][x]; }
    uint32_t Word(int x, int y) const { return words[size_t(y) * kScreenWidth + x]; }
    // Number of pixels in a rectangle that show something: non-zero, or of
    // alpha non-zero on a 32-bit screen.
    int Count(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += bpp == 32 ? (Word(x, y) >> 24) != 0 : plane[y][x] != 0;
        return n;
    }

    int Create(std::string) override { return Unexpected("Create"), 0; }
    int Destroy() override { return Unexpected("Destroy"), 0; }
    int Clear() override { return Unexpected("Clear"), 1; }
    int DrawText(std::string, int, int, int, int, int, int) override { return Unexpected("DrawText"), 0; }
    int AllocateBackBuffer(int, int) override { return Unexpected("AllocateBackBuffer"), 0; }
    int FreeBackBuffer() override { return Unexpected("FreeBackBuffer"), 0; }
    int BlitBackBuffer(int) override { return Unexpected("BlitBackBuffer"), 0; }
    int SelectBackBuffer(bool) override { return Unexpected("SelectBackBuffer"), 1; }
    void GetStringSize(int, std::string, int&, int&, int&) override { Unexpected("GetStringSize"); }
    int GetBPP() override { return bpp; }

    // The framebuffer's rule: x clamped to 0-719, width + 1 columns written
    // up to column 719; rows are the caller's to keep on the screen.
    int DrawFilledRect(int x, int y, int width, int height, int colour) override {
        rects.push_back({x, y, width, height, colour});
        if (!locked_) Violation("DrawFilledRect outside the lock");
        if (x < 0) x = 0;
        if (x >= kScreenWidth) x = kScreenWidth - 1;
        if (x + width >= kScreenWidth) width = kScreenWidth - 1 - x;
        if (width <= 0 || height <= 0) return 0;
        if (y < 0 || y + height > kScreenHeight) return Violation("DrawFilledRect rows off screen"), 0;
        for (int j = y; j < y + height; ++j) {
            if (bpp == 32)
                std::fill_n(&words[size_t(j) * kScreenWidth + x], width + 1, uint32_t(colour) >> 8 | uint32_t(colour) << 24);
            else
                std::memset(&plane[j][x], colour & 0xFF, size_t(width) + 1);
        }
        return 0;
    }
    int ReadPixel(int x, int y, unsigned char* out) override {
        ++reads;
        if (!out) return -1;
        if (x < 0 || y < 0 || x >= kScreenWidth || y >= kScreenHeight) {
            Violation("ReadPixel off screen");
            return 0;
        }
        if (bpp == 32)
            std::memcpy(out, &words[size_t(y) * kScreenWidth + x], 4);
        else
            out[0] = plane[y][x];
        return 0;
    }
    void SetRawColor(int index, int colour) override {
        ++paletteWrites;
        if (index < 0 || index > 255) return Violation("SetRawColor index " + std::to_string(index));
        palette[index] = colour;
    }
    void BlitBitmap(unsigned char* data, int width, int height, int x, int y) override {
        blits.push_back({x, y, width, height});
        if (!locked_) Violation("BlitBitmap outside the lock");
        if (width < 0 || height < 0 || x < 0 || y < 0 || x + width > kScreenWidth ||
            y + height > kScreenHeight)
            return Violation("BlitBitmap " + std::to_string(width) + "x" + std::to_string(height) +
                             " at " + std::to_string(x) + "," + std::to_string(y));
        if (width * height > 0 && !data) return Violation("BlitBitmap without data");
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i)
                if (unsigned char v = data[j * width + i]) plane[y + j][x + i] = v;
    }
    void BlitARGB(const uint32_t* data, int width, int height, int x, int y) override {
        argbBlits.push_back({x, y, width, height});
        if (!locked_) Violation("BlitARGB outside the lock");
        if (bpp != 32) Violation("BlitARGB on a one-byte screen");
        if (width < 0 || height < 0 || x < 0 || y < 0 || x + width > kScreenWidth ||
            y + height > kScreenHeight)
            return Violation("BlitARGB " + std::to_string(width) + "x" + std::to_string(height) +
                             " at " + std::to_string(x) + "," + std::to_string(y));
        if (width * height > 0 && !data) return Violation("BlitARGB without data");
        if (bpp != 32) return;
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i)
                if (uint32_t v = data[j * width + i]; v >> 24) words[size_t(y + j) * kScreenWidth + x + i] = v;
    }
    int Lock() override {
        ++locks;
        if (locked_) Violation("Lock while locked");
        locked_ = true;
        return 0;
    }
    int UnLock() override {
        ++unlocks;
        if (!locked_) Violation("UnLock while unlocked");
        locked_ = false;
        return 0;
    }

private:
    void Violation(const std::string& what) {
        violations.push_back(what);
        if (abort_) {
            std::fprintf(stderr, "CheckingDisplay: %s\n", what.c_str());
            std::abort();
        }
    }
    void Unexpected(const char* what) { Violation(std::string("unexpected ") + what); }

    bool abort_;
    bool locked_ = false;
};
