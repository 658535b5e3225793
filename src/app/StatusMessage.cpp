// gTEKOApp's status line: one line of text across the top of the screen
// that tells what the last subtitle selection chose, blanked again a few
// polls later by the main loop.
#include "app/gTEKOApp.h"

namespace {
constexpr int kOpaqueWhite = -1;  // 0xFFFFFFFF
// Polls (about three seconds) until the band is blanked.
constexpr int kShowPolls = 6;
}  // namespace

int gTEKOApp::debugMessage(std::string text) {
    if (options.osdMessages == 0) return 0;
    // A palette screen takes an index: the low byte of opaque white (255)
    // is whatever the front end put there, so use the text colour's.
    int colour = kOpaqueWhite;
    if (display.GetBPP() != 32) colour = options.teletext.paletteTextColor;
    presenter.status.Show(display, text, colour);
    osdClearCountdown = kShowPolls;
    return 0;
}
