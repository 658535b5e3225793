#include "FakeDisplay.h"

#include <gtest/gtest.h>

#include <cstring>

void FakeDisplay::Put(int x, int y, int colour) {
    int lines = useBack ? backLines : kScreenHeight;
    if (x < 0 || x >= kScreenWidth || y < 0 || y >= lines) {
        ++violations;
        return;
    }
    (useBack ? back : screen)[size_t(y) * kScreenWidth + x] = Pixel(colour);
}

int FakeDisplay::Clear() {
    calls.push_back("Clear");
    ++clears;
    for (int& p : useBack ? back : screen) p = 0;
    return 1;
}

// The framebuffer's rule: x clamped into the screen, width+1 columns, rows
// taken as given (the caller keeps them inside).
int FakeDisplay::DrawFilledRect(int x, int y, int width, int height, int colour) {
    calls.push_back("DrawFilledRect");
    rects.push_back({x, y, width, height, colour, !useBack});
    if (x < 0) x = 0;
    if (x >= kScreenWidth) x = kScreenWidth - 1;
    if (x + width >= kScreenWidth) width = kScreenWidth - 1 - x;
    if (width <= 0) return 0;
    for (int r = y; r < y + height; ++r)
        for (int c = x; c <= x + width; ++c) Put(c, r, colour);
    return 0;
}

// Characters outside the screen's columns are cut as the text renderer does;
// rows are checked against the target, which the real renderer only limits
// to the screen's 576 lines.
int FakeDisplay::DrawText(std::string text, int x, int y, int width, int alignment, int size, int colour) {
    calls.push_back("DrawText");
    texts.push_back({text, x, y, width, alignment, size, colour});
    int limit = x + width;
    for (size_t k = 0; k < text.size(); ++k, x += advance) {
        if (x + advance >= limit) return -1;
        for (int r = y - ascent; r < y + descent; ++r)
            for (int c = x; c < x + advance; ++c)
                if (c >= 0 && c < kScreenWidth && r >= 0) Put(c, r, colour);
    }
    return 0;
}

int FakeDisplay::AllocateBackBuffer(int lines, int colour) {
    calls.push_back("AllocateBackBuffer");
    if (!locked) ++violations;
    if (failAllocation || lines <= 0) return 0;
    back.assign(size_t(lines) * kScreenWidth, Pixel(colour));
    backLines = lines;
    return 1;
}

int FakeDisplay::FreeBackBuffer() {
    calls.push_back("FreeBackBuffer");
    if (backLines == 0) return 0;
    back.clear();
    backLines = 0;
    useBack = false;
    return 1;
}

int FakeDisplay::BlitBackBuffer(int line) {
    calls.push_back("BlitBackBuffer");
    blits.push_back(line);
    if (backLines == 0) return 0;
    if (line < 0 || line + backLines > kScreenHeight) {
        ++violations;
        return 0;
    }
    std::copy(back.begin(), back.end(), screen.begin() + size_t(line) * kScreenWidth);
    return 1;
}

int FakeDisplay::SelectBackBuffer(bool use) {
    calls.push_back(use ? "SelectBackBuffer(true)" : "SelectBackBuffer(false)");
    useBack = use && backLines > 0;
    return 1;
}

int FakeDisplay::ReadPixel(int x, int y, unsigned char* out) {
    if (x < 0 || x >= kScreenWidth || y < 0 || y >= kScreenHeight) {
        ++violations;
        return -1;
    }
    uint32_t v = uint32_t(ScreenAt(x, y));
    if (bpp == 32) {
        // A screen pixel is the native word 0xAARRGGBB.
        const uint32_t word = v >> 8 | v << 24;
        std::memcpy(out, &word, sizeof word);
    } else {
        out[0] = uint8_t(v);
    }
    return 0;
}

void FakeDisplay::GetStringSize(int size, std::string text, int& width, int& height, int& depth) {
    width = advance * int(text.size());
    height = text.empty() ? 0 : ascent;
    depth = text.empty() ? 0 : descent;
}

int FakeDisplay::Lock() {
    calls.push_back("Lock");
    if (locked) ++violations;  // the display lock is not recursive
    locked = true;
    ++locks;
    return 0;
}

int FakeDisplay::UnLock() {
    calls.push_back("UnLock");
    if (!locked) ++violations;
    locked = false;
    ++unlocks;
    return 0;
}

bool FakeDisplay::InkedLines(int& first, int& last) const {
    first = -1;
    last = -1;
    for (int y = 0; y < kScreenHeight; ++y)
        for (int x = 0; x < kScreenWidth; ++x)
            if (ScreenAt(x, y) != 0) {
                if (first < 0) first = y;
                last = y;
                break;
            }
    return first >= 0;
}
