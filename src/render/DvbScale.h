// Where a DVB region's pixels land on the screen when its display is not
// the screen's size, and its ARGB image scaled there (DvbScale.cpp).
#pragma once

#include <cstdint>
#include <cstring>

#include "display/IDisplayDevice.h"
#include "pages/Page.h"
#include "render/DvbImageCache.h"

namespace render {

// The widest display definition composed (EN 300 743 §7.2.1 allows more;
// the decoder refuses them).
constexpr int kMaxDisplayWidth = 1920;
// Display pixels per screen pixel and axis that the separable sums take:
// 1920 x 1080 onto a screen of 640 x 360 or more. A smaller screen is
// averaged pixel by pixel over all the display pixels under each.
constexpr int kMaxTaps = 4;

// Eight codes of a region row from `at` as one word: eight equal codes
// are that code times kEveryByte.
constexpr uint64_t kEveryByte = 0x0101010101010101ull;
inline uint64_t EightCodes(const unsigned char* at) {
    uint64_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// Where a region lands on one axis of the screen: screen pixels [first,
// last) and, for each, the region pixels it covers with their overlap (in
// units of 1 / screen size of a display pixel).
struct Axis {
    int first = 0, last = 0;
    int start[kMaxScreenWidth];
    int count[kMaxScreenWidth];
    int weight[kMaxScreenWidth][kMaxTaps];
    // The same overlaps in units of gcd(display, screen): every overlap
    // ends on a multiple of one or the other, so it is a whole number of
    // those, and a small one (at most 3 across and 8 down from 1920 x 1080).
    float units[kMaxScreenWidth][kMaxTaps];
    int unit = 1;
    int taps = 0;       // the most taps of a pixel of the span
    bool wide = false;  // a pixel covers more than kMaxTaps region pixels
    // The taps are those of the pixel before: on enlarging, most pixels
    // lie inside one display pixel, as their neighbours do.
    bool same[kMaxScreenWidth];
    // The pixel lies wholly on the region (not on the edge of a region that
    // starts or ends inside it): its overlaps add up to a screen pixel.
    bool full[kMaxScreenWidth];
    int firstFull = 0, lastFull = 0;  // the pixels [firstFull, lastFull) are full
    int nearest[kMaxScreenWidth];  // the region pixel under the centre, -1 none
    // Across: for each region column c, counted from start[0], the first
    // pixel whose taps start at c or later, and the first whose last tap
    // is c or later. The pixels on columns [b, e) only are
    // [startingAt[b], endingAt[e]).
    int startingAt[kMaxDisplayWidth + 1];
    int endingAt[kMaxDisplayWidth + 1];
    long mapped[6] = {-1, -1, -1, -1, -1, -1};  // what the arrays hold: see MapAxis
};

// The screen pixels [first, last) that a region at `pos` of `len` display
// pixels covers on an axis of `display` display and `screen` screen pixels.
void SpanAxis(Axis& a, long pos, long len, int display, int screen);
// The taps of the span's pixels; `across` adds the column indexes. An
// axis mapped for the same region place, span and sizes is kept as it is.
void MapAxis(Axis& a, long pos, long len, int display, int screen, bool across);
// The area average of the region under each screen pixel of the axes (the
// rows over `changed` region rows only, all without), as ARGB words, w x h
// from `out`.
void ScaleArgb(const Display& d, const Placement& screen, const pages::DvbRegion& region, const Axis& ax,
               const Axis& ay, const unsigned char* changed, uint32_t* out);

}  // namespace render
