// A display that draws into plain memory with the framebuffer's rules and
// records every call, for the renderer's tests. Text is drawn as a block
// per character: `advance` wide, `ascent` rows above and `descent` rows
// below the baseline, so placement and clipping can be checked by pixel.
// Every write outside its target, and every blit outside screen lines
// 0-575, is counted in `violations`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/IDisplayDevice.h"

class FakeDisplay : public IDisplayDevice {
public:
    struct TextCall {
        std::string text;
        int x, y, width, alignment, size, colour;
    };
    struct Rect {
        int x, y, width, height, colour;
        bool onScreen;
    };

    explicit FakeDisplay(int bpp = 32) : bpp(bpp), screen(kScreenWidth * kScreenHeight, 0) {}
    virtual ~FakeDisplay() = default;

    int Create(std::string) override { return 0; }
    int Destroy() override { return 0; }
    int Clear() override;
    int DrawText(std::string text, int x, int y, int width, int alignment, int size, int colour) override;
    int DrawFilledRect(int x, int y, int width, int height, int colour) override;
    int AllocateBackBuffer(int lines, int colour) override;
    int FreeBackBuffer() override;
    int BlitBackBuffer(int line) override;
    int SelectBackBuffer(bool use) override;
    int ReadPixel(int x, int y, unsigned char* out) override;
    void GetStringSize(int size, std::string text, int& width, int& height, int& depth) override;
    void SetRawColor(int, int) override {}
    void BlitBitmap(unsigned char*, int, int, int, int) override {}
    void BlitARGB(const uint32_t*, int, int, int, int) override {}
    int Lock() override;
    int UnLock() override;
    int GetBPP() override { return bpp; }

    // The colour value as a pixel of this depth (the low byte on palette screens).
    int Pixel(int colour) const { return bpp == 32 ? colour : colour & 0xFF; }
    int ScreenAt(int x, int y) const { return screen[size_t(y) * kScreenWidth + x]; }
    void SetScreen(int x, int y, int colour) { screen[size_t(y) * kScreenWidth + x] = Pixel(colour); }
    // Lines of the screen holding any non-zero pixel, as [first, last].
    bool InkedLines(int& first, int& last) const;

    int bpp;
    int ascent = 20, descent = 6, advance = 10;
    bool failAllocation = false;
    std::vector<int> screen;
    std::vector<int> back;
    int backLines = 0;
    bool useBack = false;
    bool locked = false;
    int clears = 0, locks = 0, unlocks = 0, violations = 0;
    std::vector<TextCall> texts;
    std::vector<Rect> rects;
    std::vector<int> blits;  // first screen line of each blit
    std::vector<std::string> calls;

private:
    void Put(int x, int y, int colour);
};
