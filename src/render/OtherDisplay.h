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

private:
    bool Own(IDisplayDevice& display, int x, int y) const;
    int own_[3] = {0, 0, 0};
    int count_ = 0;
};

}  // namespace render
