#include "render/StatusLine.h"

#include "display/IDisplayDevice.h"

namespace render {

namespace {

// The band on a 720 x 576 screen: rows 15 to 54 across it, scaled to the
// screen like the rest of the layout.
constexpr int kBandTop = 15;
constexpr int kBandHeight = 40;
constexpr int kBaseline = 40;
constexpr int kTextSize = 20;
constexpr int kCentred = 1;

int Scaled(int v, int size) { return int(long(v) * size / kScreenHeight); }

}  // namespace

void StatusLine::Show(IDisplayDevice& display, const std::string& text, int colour) {
    const int width = display.Width(), height = display.Height();
    // Under the display lock: a client drawing on the reader thread never
    // interleaves with the band.
    display.Lock();
    display.DrawFilledRect(0, Scaled(kBandTop, height), width, Scaled(kBandHeight, height), 0);
    display.DrawText(text, 0, Scaled(kBaseline, height), width, kCentred, Scaled(kTextSize, height), colour);
    if (drawn && !text.empty()) drawn(text);
    display.UnLock();
}

}  // namespace render
