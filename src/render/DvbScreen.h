// DVB subtitle pages on the screen: each page replaces the last one in one
// update of the screen (the clear of what was drawn and every region
// together), unless another display shows; where the viewer wants it
// (DVBYOffset, DVBZoom), on a box (DVBBackground) if asked.
#pragma once

#include <vector>

#include "config/Options.h"
#include "pages/Page.h"
#include "render/DvbCompose.h"
#include "render/OtherDisplay.h"

namespace render {

class DvbScreen {
public:
    // `display` may be null (nothing is drawn); nothing counts as drawn.
    void Start(IDisplayDevice* display, const config::DvbOptions& options);
    void Show(const pages::DvbPage& page);
    // Removes what was drawn; nothing drawn, nothing to clear: no update
    // (a blit may cost the driver a copy of the whole screen).
    void Clear();
    // The rows of the screen that the last page covers (top >= bottom: none).
    ScreenBox Drawn() const { return box_; }

private:
    bool OkToDraw() const;
    ScreenBox Extent(const Display& d, const std::vector<pages::DvbRegion>& regions, const Placement& place,
                     bool shown) const;
    std::vector<pages::DvbRegion> ShownParts(const pages::DvbPage& page) const;
    Placement Place(const pages::DvbPage& page, const std::vector<pages::DvbRegion>& shown) const;
    bool MayShow(const pages::DvbPage& page, Placement& place) const;
    void ClearLocked();
    void Grow(const ScreenBox& b);
    IDisplayDevice* display_ = nullptr;
    config::DvbOptions options_;
    OtherDisplay other_;
    // What the page on the screen covers; left >= right: nothing.
    ScreenBox box_;
    ImageBuffer image_;
};

}  // namespace render
