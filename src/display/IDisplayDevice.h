// The sixteen drawing operations every drawing Part uses, in their fixed
// slot order. Raw colours are 0xRRGGBBAA (alpha in the low byte); on screens
// of one byte per pixel only the low byte is written, as a palette index.
// The surface is always 720 x 576 pixels.
#pragma once

#include <string>

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

protected:
    ~IDisplayDevice() = default;
};

// The fixed screen geometry of every Part.
constexpr int kScreenWidth = 720;
constexpr int kScreenHeight = 576;
