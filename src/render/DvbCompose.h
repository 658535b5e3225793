// A DVB region composed onto the screen (DvbCompose.cpp): where it lands,
// and its pixels, scaled from the page's display to the screen.
#pragma once

#include "display/IDisplayDevice.h"
#include "pages/Page.h"
#include "render/DvbImageCache.h"
#include "render/DvbScale.h"

namespace render {

// Screen pixels [left, right) x [top, bottom).
struct ScreenBox {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Empty() const { return right <= left || bottom <= top; }
};

// The screen box that `region` of a page for display `d` covers where
// `screen` places the display, clipped to the visible screen; false when
// the region lies past the display's edge and is not drawn at all.
bool RegionBox(const Display& d, const Placement& screen, const pages::DvbRegion& region, ScreenBox& box);
// Draws `region` into that box: area averaged ARGB on 32-bit screens,
// nearest palette indexes on the others; from the image in `buffer` when
// the region is drawn as it was. The caller holds the lock.
void ComposeRegion(IDisplayDevice& device, const Display& d, const Placement& screen, const pages::DvbRegion& region,
                   ImageBuffer& buffer);

}  // namespace render
