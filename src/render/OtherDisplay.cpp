#include "render/OtherDisplay.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/Log.h"

namespace render {

void OtherDisplay::SetOwnColours(int a, int b, int c) {
    own_[0] = a, own_[1] = b, own_[2] = c;
    count_ = 3;
}

bool OtherDisplay::Own(IDisplayDevice& display, int x, int y) const {
    if (!count_) return false;
    unsigned char px[4] = {0, 0, 0, 0};
    display.ReadPixel(x, y, px);
    int value;
    if (display.GetBPP() == 32) {
        // One native word 0xAARRGGBB; the colours are 0xRRGGBBAA.
        uint32_t word;
        std::memcpy(&word, px, sizeof word);
        value = int(word << 8 | word >> 24);
    } else {
        // One byte a pixel: only the low byte of a colour reaches the screen.
        value = px[0];
    }
    for (int k = 0; k < count_; ++k)
        if (value == (display.GetBPP() == 32 ? own_[k] : own_[k] & 0xFF)) return true;
    return false;
}

namespace {
constexpr int kBandColumnStep = 8;
}  // namespace

bool OtherDisplay::Band(IDisplayDevice& display, int left, int top, int right, int bottom, int& first,
                        int& last) const {
    left = left < 0 ? 0 : left, top = top < 0 ? 0 : top;
    right = right > display.Width() ? display.Width() : right;
    bottom = bottom > display.Height() ? display.Height() : bottom;
    first = -1, last = -1;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; x += kBandColumnStep) {
            if (!Other(display, x, y)) continue;
            if (first < 0) first = y;
            last = y;
            break;
        }
    return first >= 0;
}

bool OtherDisplay::Avoid(IDisplayDevice& display, int left, int top, int right, int bottom, int& shift) const {
    shift = 0;
    int first, last;
    if (!Band(display, left, top, right, bottom, first, last)) return true;
    // The other display's whole height: its lines go on past the band.
    int f, l;
    while (first > 0 && Band(display, left, first - 1, right, first, f, l)) --first;
    while (last + 1 < display.Height() && Band(display, left, last + 1, right, last + 2, f, l)) ++last;
    const int height = bottom - top;
    // Above the other display, else below it, where the new band is clear too.
    for (const int to : {first - height, last + 1}) {
        if (to < 0 || to + height > display.Height()) continue;
        if (Band(display, left, to, right, to + height, f, l)) continue;
        shift = to - top;
        eTrace("TEKO: Other display on lines %d-%d, subtitle moved by %d\n", first, last, shift);
        return true;
    }
    return false;
}

bool OtherDisplay::Shows(IDisplayDevice& display, int skipTop, int skipBottom) const {
    const int x = display.Width() / 2, height = display.Height();
    // Every second line: those above the skipped ones, then those below.
    const int below = skipBottom > skipTop ? (std::max(skipBottom, 0) + 1) / 2 * 2 : height;
    const int spans[2][2] = {{0, skipBottom > skipTop ? std::min(skipTop, height) : height}, {below, height}};
    for (const auto& span : spans) {
        for (int y = span[0]; y < span[1]; y += 2) {
            y = display.FirstOther(x, y, span[1], 2);
            if (y < 0) break;
            if (Own(display, x, y)) continue;
            eTrace("TEKO: Other display at (%d, %d)\n", x, y);
            return true;
        }
    }
    return false;
}

}  // namespace render
