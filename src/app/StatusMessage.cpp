// gTEKOApp's status line: one line of text across the top of the screen
// that tells what the last subtitle selection chose, blanked again a few
// polls later by the main loop.
#include "app/gTEKOApp.h"

namespace {
// The band: rows 15 to 54 of a 720 x 576 screen, across the whole width;
// on other screens the rows and the text scale with the height, so the
// line reads the same on an HD screen.
constexpr int kBandTop = 15;
constexpr int kBandHeight = 40;
constexpr int kBaseline = 40;
constexpr int kTextSize = 20;
constexpr int kCentred = 1;
constexpr int kOpaqueWhite = -1;  // 0xFFFFFFFF
// Polls (about three seconds) until the band is blanked.
constexpr int kShowPolls = 6;

int Scaled(int v, int lines) { return static_cast<int>(static_cast<long long>(v) * lines / kScreenHeight); }
}  // namespace

int gTEKOApp::debugMessage(std::string text) {
    if (options.osdMessages == 0) return 0;
    // A palette screen takes an index: the low byte of opaque white (255)
    // is whatever the front end put there, so use the text colour's.
    int colour = kOpaqueWhite;
    if (display.GetBPP() != 32) colour = options.teletext.paletteTextColor;
    // Under the display lock: a client drawing on the reader thread never
    // interleaves with the band.
    display.Lock();
    const int width = display.Width(), lines = display.Height();
    display.DrawFilledRect(0, Scaled(kBandTop, lines), width, Scaled(kBandHeight, lines), 0);
    display.DrawText(text, 0, Scaled(kBaseline, lines), width, kCentred, Scaled(kTextSize, lines), colour);
    display.UnLock();
    osdClearCountdown = kShowPolls;
    return 0;
}
