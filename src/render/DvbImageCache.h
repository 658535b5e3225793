// The screen images of the DVB regions drawn, kept from one page to the
// next (DvbImageCache.cpp): a region shown again as it was, or with some
// rows changed (a roll-up page's new word), is blitted from its image,
// only the rows changed composed again. The screen is still drawn every time: each page change
// clears what was drawn and blits every region within one lock span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "display/IDisplayDevice.h"
#include "pages/Page.h"

namespace render {

// A display definition, or the screen, in pixels.
struct Display {
    int width = kScreenWidth;
    int height = kScreenHeight;
};

// Where a page's display goes on the screen: scaled onto width x height
// (the screen's size, or more for a zoom) with its top left corner at
// (x, y) of the screen; only what falls on the visible screen is composed.
struct Placement {
    int width = kScreenWidth, height = kScreenHeight;
    int x = 0, y = 0;
    int visibleWidth = kScreenWidth, visibleHeight = kScreenHeight;
    Placement() = default;
    // The display onto the whole of a `screen`.
    Placement(const Display& screen)  // NOLINT: a screen is its own placement
        : width(screen.width), height(screen.height), visibleWidth(screen.width), visibleHeight(screen.height) {}
    bool operator==(const Placement& o) const {
        return width == o.width && height == o.height && x == o.x && y == o.y && visibleWidth == o.visibleWidth &&
               visibleHeight == o.visibleHeight;
    }
};

// What a region's image was composed from: the region (place, size,
// codes, colours), the page's display, its placement and the depth.
struct ComposedImage {
    int id = -1, bpp = 0;  // id -1: a free entry
    long x = 0, y = 0;
    int width = 0, height = 0;
    Display display;
    Placement screen;
    std::unique_ptr<unsigned char[]> codes;
    uint32_t argb[256];
    uint8_t index[256];
    int palette[16];
    std::unique_ptr<unsigned char[]> image;
    size_t imageBytes = 0;
    size_t held = 0;  // codes and image, bytes
    unsigned long lastUse = 0;
};

// The screen images, from which a page's regions are drawn.
struct ImageBuffer {
    std::vector<ComposedImage> images;
    unsigned long uses = 0;
};

// The image kept of `region` for this display, screen and depth, in the
// same colours, or null. `changed` gets for each row of the region
// whether its codes differ from those the image was composed from (the
// rows of the screen over them are to be composed again); the image is
// noted as the region's.
unsigned char* KeptImage(ImageBuffer& buffer, const pages::DvbRegion& region, const Display& d,
                         const Placement& screen, int bpp, std::vector<unsigned char>& changed);
// Room for `bytes` of the image of `region`, noted as composed from it
// (the caller composes it there); null, said, when it cannot be had.
unsigned char* NewImage(ImageBuffer& buffer, const pages::DvbRegion& region, const Display& d,
                        const Placement& screen, int bpp, size_t bytes);

}  // namespace render
