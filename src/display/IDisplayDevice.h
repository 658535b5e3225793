// The drawing operations every drawing part uses, in their fixed slot
// order (new ones are added at the end). Raw colours are 0xRRGGBBAA (alpha in the low byte); on screens
// of one byte per pixel only the low byte is written, as a palette index.
// The surface is the screen: Width() x Height() pixels, 720 x 576 unless
// the device says otherwise.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

// The geometry that layouts are made for, scaled to the real screen.
constexpr int kScreenWidth = 720;
constexpr int kScreenHeight = 576;
// The largest screen a device takes (full HD).
constexpr int kMaxScreenWidth = 1920;
constexpr int kMaxScreenHeight = 1080;

class IDisplayDevice {
public:
    virtual int Create(std::string fontPath) = 0;
    virtual int Destroy() = 0;
    virtual int Clear() = 0;
    virtual int DrawText(std::string text, int x, int y, int width, int alignment, int size,
                         int colour) = 0;
    virtual int DrawFilledRect(int x, int y, int width, int height, int colour) = 0;
    virtual int AllocateBackBuffer(int lines, int colour) = 0;
    virtual int FreeBackBuffer() = 0;
    virtual int BlitBackBuffer(int line) = 0;
    virtual int SelectBackBuffer(bool useBackBuffer) = 0;
    virtual int ReadPixel(int x, int y, unsigned char* out) = 0;
    virtual void GetStringSize(int size, std::string text, int& width, int& height,
                               int& depth) = 0;
    virtual void SetRawColor(int index, int colour) = 0;
    virtual void BlitBitmap(unsigned char* data, int width, int height, int x, int y) = 0;
    virtual int Lock() = 0;
    virtual int UnLock() = 0;
    virtual int GetBPP() = 0;
    // `text` in `colour` at (x, y) as DrawText draws it (alignment 0), over
    // its outline in `outlineColour`: the text drawn at the four diagonal
    // offsets of `outlineSize` and, for 2 or more, the four straight ones.
    // All outlines are drawn before any of the text. Returns what DrawText
    // of the text returns. This form draws the nine texts one after the
    // other; a device may compose it faster with the same pixels.
    virtual int DrawOutlinedText(std::string text, int x, int y, int width, int size, int colour, int outlineColour,
                                 int outlineSize) {
        const long long o = outlineSize;
        const long long copies[8][2] = {{-o, -o}, {-o, o}, {o, -o}, {o, o}, {o, 0}, {-o, 0}, {0, o}, {0, -o}};
        for (int k = 0; k < (o >= 2 ? 8 : 4); ++k)
            DrawText(text, Bound(x + copies[k][0]), Bound(y + copies[k][1]), width, 0, size, outlineColour);
        return DrawText(text, x, y, width, 0, size, colour);
    }
    // Blits width x height pixels given as 0xAARRGGBB words (colours that
    // no palette slot holds, such as averaged ones) at (x, y), clipped to
    // the surface; pixels of alpha 0 leave the screen as it is. Drawn on
    // 32-bit screens only.
    virtual void BlitARGB(const uint32_t* data, int width, int height, int x, int y) = 0;
    // True when the screen at (x, y) shows another display's pixel: one
    // that is not transparent and not what this device put there. This
    // form knows nothing of what it drew: every visible pixel counts.
    virtual bool ShowsOther(int x, int y) {
        unsigned char pixel[4] = {0, 0, 0, 0};
        ReadPixel(x, y, pixel);
        if (GetBPP() != 32) return pixel[0] != 0;
        uint32_t word;
        std::memcpy(&word, pixel, sizeof word);
        return (word >> 24) != 0;
    }
    // The first line of [top, bottom), every `step`th, at which column x
    // shows another display's pixel (as ShowsOther), -1 when none does. The
    // other-display test reads a whole column at every page; a device
    // reads it from its memory without a call per pixel.
    virtual int FirstOther(int x, int top, int bottom, int step) {
        for (int y = top; y < bottom; y += step)
            if (ShowsOther(x, y)) return y;
        return -1;
    }

    // The screen's size in pixels.
    virtual int Width() { return kScreenWidth; }
    virtual int Height() { return kScreenHeight; }
    // Text drawn from now on is slanted (or upright again); DrawText and
    // DrawOutlinedText keep it. A device without a slant draws upright.
    virtual void SetSlant(bool on) {}

protected:
    ~IDisplayDevice() = default;
    // Coordinates far off the screen all mean the same; bounded, the
    // arithmetic on them cannot overflow.
    static int Bound(long long v) { return int(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
};
