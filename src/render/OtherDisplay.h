// The test for another display (the front end's menus, a channel banner)
// on the screen, the same for every kind of subtitle: while one shows,
// subtitles are held back rather than drawn over it or under it.
#pragma once

#include "display/IDisplayDevice.h"

namespace render {

class OtherDisplay {
public:
    // Colours the daemon itself draws in (0xRRGGBBAA; palette indexes on
    // one-byte screens): a pixel of one of them is taken for the daemon's
    // own, left by an earlier run, say. At most three.
    void SetOwnColours(int a, int b, int c);
    // True when another display's pixel shows on the centre column (every
    // second line), outside lines [skipTop, skipBottom): those hold the
    // caller's own subtitle, which a device that cannot tell what it drew
    // would take for another display.
    bool Shows(IDisplayDevice& display, int skipTop, int skipBottom) const;
    // For a subtitle that would cover [left, right) x [top, bottom): the
    // lines it must move by to keep clear of another display over that
    // band (every 8th column, every line): into the free space above the
    // lines that show it, else below them. 0 when none shows there; false
    // when the subtitle fits neither above nor below.
    bool Avoid(IDisplayDevice& display, int left, int top, int right, int bottom, int& shift) const;

private:
    bool Own(IDisplayDevice& display, int x, int y) const;
    bool Other(IDisplayDevice& display, int x, int y) const {
        return display.ShowsOther(x, y) && !Own(display, x, y);
    }
    // The first and last line of [top, bottom) where another display shows.
    bool Band(IDisplayDevice& display, int left, int top, int right, int bottom, int& first, int& last) const;
    int own_[3] = {0, 0, 0};
    int count_ = 0;
};

}  // namespace render
