#include "render/OtherDisplay.h"

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

bool OtherDisplay::Shows(IDisplayDevice& display, int skipTop, int skipBottom) const {
    const int x = display.Width() / 2, height = display.Height();
    for (int y = 0; y < height; y += 2) {
        if (skipTop <= y && y < skipBottom) continue;
        if (!display.ShowsOther(x, y) || Own(display, x, y)) continue;
        eTrace("TEKO: Other display at (%d, %d)\n", x, y);
        return true;
    }
    return false;
}

}  // namespace render
