// A DVB region onto the screen. A page is composed for the display that
// its display definition names (EN 300 743 §7.2.1), 720 x 576 without one;
// that display maps onto the whole screen, each region at its display
// position (offset by the display window), scaled:
//  - on 32-bit screens colour and alpha are averaged over the area that a
//    screen pixel covers (DvbScale.cpp) and blitted as ARGB;
//  - on one-byte screens the nearest display pixel is taken, written as
//    0xF0 | a 4-bit entry for the box's hardware palette.
// Without scaling every pixel keeps its own colour (a run of eight equal
// codes looked up once).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "render/DvbCompose.h"

#include "platform/Log.h"

namespace render {
namespace {

// Screen words from region codes one to one; eight equal codes are looked
// up once.
void lookup_row(const unsigned char* row, int n, const uint32_t* words, uint32_t* to) {
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const unsigned char* at = row + k;
        if (EightCodes(at) == at[0] * kEveryByte) {
            const uint32_t w = words[at[0]];
            for (int i = 0; i < 8; ++i) to[k + i] = w;
        } else {
            for (int i = 0; i < 8; ++i) to[k + i] = words[at[i]];
        }
    }
    for (; k < n; ++k) to[k] = words[row[k]];
}

// The image's rows, or those over `changed` region rows; an
// unscaled row lies over the region row of its number.
void compose_argb(const Display& d, const Placement& screen, const pages::DvbRegion& region, const Axis& ax,
                  const Axis& ay, bool scaled, const unsigned char* changed, uint32_t* out) {
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    if (scaled) {
        ScaleArgb(d, screen, region, ax, ay, changed, out);
    } else {
        for (int ky = 0; ky < h; ++ky)
            if (!changed || changed[ky])
                lookup_row(region.codes + long(ky) * region.width, w, region.argb, out + size_t(ky) * w);
    }
}

void compose_indices(const pages::DvbRegion& region, const Axis& ax, const Axis& ay, bool scaled,
                     const unsigned char* changed, unsigned char* out) {
    const uint8_t* table = region.index;
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    for (int ky = 0; ky < h; ++ky) {
        unsigned char* to = out + size_t(ky) * w;
        // A scaled row shows the region row under its centre.
        const int sy = scaled ? ay.nearest[ky] : ky;
        if (changed && !(sy >= 0 && changed[sy])) continue;
        if (!scaled) {
            const unsigned char* row = region.codes + long(ky) * region.width;
            for (int kx = 0; kx < w; ++kx) to[kx] = table[row[kx]];
            continue;
        }
        const unsigned char* row = sy >= 0 ? region.codes + long(sy) * region.width : nullptr;
        for (int kx = 0; kx < w; ++kx) {
            const int sx = ax.nearest[kx];
            to[kx] = row && sx >= 0 ? table[row[sx]] : 0;
        }
    }
}

// The axes of the region being drawn, kept between calls (they are large).
thread_local Axis regionAxes[2];

}  // namespace

bool RegionBox(const Display& d, const Placement& screen, const pages::DvbRegion& region, ScreenBox& box) {
    const long dx = region.x, dy = region.y;
    // A region whose corner lies past the display's far edge is not drawn.
    if (dx < 0 || dy < 0 || dx * screen.width / d.width > screen.width ||
        dy * screen.height / d.height > screen.height)
        return false;
    Axis& ax = regionAxes[0];
    Axis& ay = regionAxes[1];
    SpanAxis(ax, dx, region.width, d.width, screen.width);
    SpanAxis(ay, dy, region.height, d.height, screen.height);
    // Only the part on the visible screen: the axes and the image never
    // reach past it, whatever the zoom.
    ax.first = std::max(ax.first, -screen.x), ax.last = std::min(ax.last, screen.visibleWidth - screen.x);
    ay.first = std::max(ay.first, -screen.y), ay.last = std::min(ay.last, screen.visibleHeight - screen.y);
    box = {ax.first + screen.x, ay.first + screen.y, ax.last + screen.x, ay.last + screen.y};
    if (box.right < box.left) box.right = box.left;
    if (box.bottom < box.top) box.bottom = box.top;
    return true;
}

void ComposeRegion(IDisplayDevice& device, const Display& d, const Placement& screen, const pages::DvbRegion& region,
                   ImageBuffer& buffer) {
    ScreenBox box;
    if (!region.codes || !RegionBox(d, screen, region, box) || box.Empty()) return;
    const int bpp = device.GetBPP() == 32 ? 32 : 8;
    const int w = box.right - box.left, h = box.bottom - box.top;
    static thread_local std::vector<unsigned char> changedRows;
    unsigned char* out = KeptImage(buffer, region, d, screen, bpp, changedRows);
    const unsigned char* changed = out ? changedRows.data() : nullptr;
    if (!out) out = NewImage(buffer, region, d, screen, bpp, size_t(w) * size_t(h) * (bpp == 32 ? 4 : 1));
    if (!out) return;
    if (!changed || std::find(changedRows.begin(), changedRows.end(), 1) != changedRows.end()) {
        Axis& ax = regionAxes[0];
        Axis& ay = regionAxes[1];
        const bool scaled = d.width != screen.width || d.height != screen.height;
        if (scaled) {
            MapAxis(ax, region.x, region.width, d.width, screen.width, bpp == 32);
            MapAxis(ay, region.y, region.height, d.height, screen.height, false);
        }
        if (bpp == 32) compose_argb(d, screen, region, ax, ay, scaled, changed, reinterpret_cast<uint32_t*>(out));
        else compose_indices(region, ax, ay, scaled, changed, out);
    }
    const unsigned char* image = out;
    if (bpp == 32) {
        device.BlitARGB(reinterpret_cast<const uint32_t*>(image), w, h, box.left, box.top);
        return;
    }
    for (int i = 0; i < 16; ++i) device.SetRawColor(i, region.palette[i]);
    device.BlitBitmap(const_cast<unsigned char*>(image), w, h, box.left, box.top);
}

}  // namespace render
