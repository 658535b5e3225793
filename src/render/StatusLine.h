// The status line: one line of text centred across the top of the screen
// that tells the viewer what the subtitle selection chose.
#pragma once

#include <functional>
#include <string>

class IDisplayDevice;

namespace render {

class StatusLine {
public:
    // Draws `text` in `colour` (0xRRGGBBAA, or a palette index on one-byte
    // screens) over the band, which it blanks first; "" only blanks it.
    void Show(IDisplayDevice& display, const std::string& text, int colour);

    // Called with the text once it is drawn, before the display is
    // unlocked. Unset in the daemon; the simulator lists it.
    std::function<void(const std::string& text)> drawn;
};

}  // namespace render
