// A DVB region onto the screen. A page is composed for the display that
// its display definition names (EN 300 743 §7.2.1), 720 x 576 without one;
// that display maps onto the whole screen, each region at its display
// position (offset by the display window), scaled:
//  - on 32-bit screens colour and alpha are averaged over the area that a
//    screen pixel covers (premultiplied by alpha, so that transparent
//    pixels do not darken the edges of the text) and blitted as ARGB;
//    the sums are taken down the rows, then across, with shortcuts for
//    runs of one code and for pixels that cover what their neighbour
//    covers, and give exactly what the sum pixel by pixel gives;
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

constexpr int kMaxTaps = 4;  // display pixels per screen pixel and axis, at most

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
    int taps = 0;  // the most taps of a pixel of the span
    // The taps are those of the pixel before: on enlarging, most pixels
    // lie inside one display pixel, as their neighbours do.
    bool same[kMaxScreenWidth];
    // The pixel lies wholly on the region (not on the edge of a region that
    // starts or ends inside it): its overlaps add up to a screen pixel.
    bool full[kMaxScreenWidth];
    int nearest[kMaxScreenWidth];  // the region pixel under the centre, -1 none
};

int gcd(int a, int b) { return b ? gcd(b, a % b) : a; }

// The screen pixels [first, last) that a region at `pos` of `len` display
// pixels covers on an axis of `display` display and `screen` screen pixels.
void span(Axis& a, long pos, long len, int display, int screen) {
    a.first = int(pos * screen / display);
    const long last = ((pos + len) * screen + display - 1) / display;
    a.last = int(last < screen ? last : screen);
}

// The region pixels under each screen pixel of the span, with their
// overlap (in units of 1 / screen of a display pixel), and the one under
// its centre.
void map_axis(Axis& a, long pos, long len, int display, int screen) {
    a.unit = gcd(display, screen);
    a.taps = 0;
    for (int s = a.first; s < a.last; ++s) {
        const int k = s - a.first;
        for (float& u : a.units[k]) u = 0;
        const long lo = long(s) * display, hi = long(s + 1) * display;  // in 1/screen display pixels
        long i = lo / screen;
        if (i < pos) i = pos;
        a.start[k] = int(i - pos);
        a.count[k] = 0;
        for (; i < pos + len && i * screen < hi && a.count[k] < kMaxTaps; ++i) {
            const long from = i * screen > lo ? i * screen : lo;
            const long to = (i + 1) * screen < hi ? (i + 1) * screen : hi;
            a.units[k][a.count[k]] = float((to - from) / a.unit);
            a.weight[k][a.count[k]++] = int(to - from);
        }
        if (a.count[k] > a.taps) a.taps = a.count[k];
        int covered = 0;
        for (int t = 0; t < a.count[k]; ++t) covered += a.weight[k][t];
        a.full[k] = covered == display;
        a.same[k] = k > 0 && a.start[k] == a.start[k - 1] && a.count[k] == a.count[k - 1] &&
                    std::memcmp(a.weight[k], a.weight[k - 1], sizeof a.weight[k][0] * a.count[k]) == 0;
        const long centre = (long(2 * s + 1) * display) / (2L * screen) - pos;
        a.nearest[k] = centre >= 0 && centre < len ? int(centre) : -1;
    }
}

// The area average of the region pixels under one screen pixel, as the
// straightforward sum over its taps. Alpha sums stay below 2^31 (255 x
// 1920 x 1080 at most); colour sums are kept in floating point, and
// divided only where something shows. This is the rule the screen
// follows; the separable sums below give the same pixels faster, and fall
// back to this where its rounding could decide otherwise.
uint32_t average(const pages::DvbRegion& region, const uint32_t* words, const Axis& ax, int kx, const Axis& ay,
                 int ky, uint32_t area) {
    uint32_t sa = 0;
    float sr = 0, sg = 0, sb = 0;
    for (int ty = 0; ty < ay.count[ky]; ++ty) {
        const unsigned char* row = region.codes + long(ay.start[ky] + ty) * region.width + ax.start[kx];
        const uint32_t wy = uint32_t(ay.weight[ky][ty]);
        for (int tx = 0; tx < ax.count[kx]; ++tx) {
            const uint32_t w = words[row[tx]];
            if (!(w >> 24)) continue;
            const uint32_t a = (w >> 24) * wy * uint32_t(ax.weight[kx][tx]);
            sa += a;
            sr += float(a) * float((w >> 16) & 0xFF);
            sg += float(a) * float((w >> 8) & 0xFF);
            sb += float(a) * float(w & 0xFF);
        }
    }
    if (!sa) return 0;
    const uint32_t alpha = (sa + area / 2) / area;
    if (!alpha) return 0;
    const float inv = 1.0f / float(sa);
    const auto channel = [inv](float sum) { return uint32_t(sum * inv + 0.5f) & 0xFF; };
    return alpha << 24 | channel(sr) << 16 | channel(sg) << 8 | channel(sb);
}

// A colour premultiplied by its alpha, or a sum of such colours times
// overlaps (in units, see Axis): alpha, alpha x red, alpha x green, alpha
// x blue. Every sum is a whole number; below 2^24 a float holds it
// exactly (see exact_in_floats). The four are one vector (GCC's and
// Clang's vector extension: SSE on a PC, NEON on an ARM box), so that a
// tap is one multiply and one add.
typedef float Premultiplied __attribute__((vector_size(16)));
typedef int32_t Lanes __attribute__((vector_size(16)));

// Whole numbers, never -0 or NaN: equal sums have equal bytes.
bool same_sums(const Premultiplied& x, const Premultiplied& y) { return std::memcmp(&x, &y, sizeof x) == 0; }

void premultiply(const uint32_t* words, Premultiplied* table) {
    for (int i = 0; i < 256; ++i) {
        const uint32_t w = words[i], a = w >> 24;
        table[i] = Premultiplied{float(a), float(a * ((w >> 16) & 0xFF)), float(a * ((w >> 8) & 0xFF)),
                                 float(a * (w & 0xFF))};
    }
}

// The sums of a screen pixel come to at most 255 x 255 x its area in
// units (display width / unit across times display height / unit down):
// whole numbers below 2^24, and so exact in floats, for every common
// display (1920 x 1080: 8 x 15 units; 1280 x 720: 16 x 5; 320 x 240: 4 x 5).
bool exact_in_floats(const Display& d, const Axis& ax, const Axis& ay) {
    const long area = long(d.width / ax.unit) * long(d.height / ay.unit);
    return 255L * 255L * area < (1L << 24);
}

constexpr uint64_t kEveryByte = 0x0101010101010101ull;

// Eight codes from `at` (within a region row).
uint64_t eight(const unsigned char* at) {
    uint64_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// True when the eight codes from column x of every row are one code, that
// of rows[0][x]: backgrounds and the insides of letters are such runs.
template <int Taps>
bool same_eight(const unsigned char* const* rows, int x) {
    const uint64_t run = rows[0][x] * kEveryByte;
    for (int t = 0; t < Taps; ++t)
        if (eight(rows[t] + x) != run) return false;
    return true;
}

template <int Taps>
Premultiplied column(const Premultiplied* table, const unsigned char* const* rows, const float* wy, int x) {
    Premultiplied s = table[rows[0][x]] * wy[0];
    for (int t = 1; t < Taps; ++t) s += table[rows[t][x]] * wy[t];
    return s;
}

// The first half of the area average (the vertical one): for each region
// column in [from, to), the premultiplied colours of the region rows under
// screen row ky times their overlaps; eight columns at a time, as one
// product where they are a run. The number of rows is a constant of the
// loop, which the compiler unrolls.
// What scale_row needs to know of a screen row's region rows to find the
// screen pixels that cover one code only: those rows, and for each eight
// columns from `from` the code that they all hold there, -1 for none.
struct Runs {
    const unsigned char* rows[kMaxTaps];
    int count = 0;
    bool full = false;  // the rows cover the screen row whole (see Axis)
    int16_t eights[kMaxDisplayWidth / 8 + 2];
};

template <int Taps>
void sum_rows(const Premultiplied* table, const float* wy, int from, int to, Premultiplied* sums, Runs& runs) {
    const unsigned char* const* rows = runs.rows;
    float total = 0;
    for (int t = 0; t < Taps; ++t) total += wy[t];
    int x = from;
    for (; x + 8 <= to; x += 8) {
        Premultiplied* out = sums + (x - from);
        if (same_eight<Taps>(rows, x)) {
            const Premultiplied s = table[rows[0][x]] * total;
            for (int k = 0; k < 8; ++k) out[k] = s;
            runs.eights[(x - from) >> 3] = rows[0][x];
        } else {
            for (int k = 0; k < 8; ++k) out[k] = column<Taps>(table, rows, wy, x + k);
            runs.eights[(x - from) >> 3] = -1;
        }
    }
    runs.eights[(x - from) >> 3] = -1;
    for (; x < to; ++x) sums[x - from] = column<Taps>(table, rows, wy, x);
}

void sum_rows(const pages::DvbRegion& region, const Premultiplied* table, const Axis& ay, int ky, int from, int to,
              Premultiplied* sums, Runs& runs) {
    runs.count = ay.count[ky];
    runs.full = ay.full[ky];
    for (int t = 0; t < runs.count; ++t) runs.rows[t] = region.codes + long(ay.start[ky] + t) * region.width;
    const float* wy = ay.units[ky];
    switch (runs.count) {
    case 1:
        return sum_rows<1>(table, wy, from, to, sums, runs);
    case 2:
        return sum_rows<2>(table, wy, from, to, sums, runs);
    case 3:
        return sum_rows<3>(table, wy, from, to, sums, runs);
    case 4:
        return sum_rows<4>(table, wy, from, to, sums, runs);
    default:  // no row (which map_axis never gives)
        runs.full = false;
        for (int x = from; x < to; ++x) sums[x - from] = Premultiplied{0, 0, 0, 0};
    }
}

// The code under the whole of screen pixel kx of a row that its region
// rows cover whole, -1 when it covers more than one or lies on the
// region's edge. Such a pixel is that code's colour as it is: its sums
// are the premultiplied colour times the area, whose quotients are whole
// numbers, which average()'s rounding keeps (its errors stay far below a
// half). Enlarging (a pixel on two columns and rows at most), the codes
// are looked at; else the runs of eight.
template <bool Enlarging>
inline __attribute__((always_inline)) int only_code(const Runs& runs, const Axis& ax, int kx, int from) {
    if (!ax.full[kx]) return -1;
    const int a = ax.start[kx], b = a + ax.count[kx] - 1;
    if (Enlarging) {
        const int c = runs.rows[0][a];
        if (runs.rows[0][b] != c) return -1;
        if (runs.count == 2 && (runs.rows[1][a] != c || runs.rows[1][b] != c)) return -1;
        return c;
    }
    const int c = runs.eights[(a - from) >> 3];
    return c == runs.eights[(b - from) >> 3] ? c : -1;
}

// The second half (the horizontal one) for screen pixel kx: the region
// columns under it times their overlaps. Taps: the most of the span (two
// on enlarging); a pixel with fewer has weight 0 past its count (see
// map_axis), so that the loop has no branches.
template <int Taps>
Premultiplied sum_columns(const Axis& ax, int kx, const Premultiplied* sums, int from) {
    const Premultiplied* s = sums + (ax.start[kx] - from);
    Premultiplied out = s[0] * ax.units[kx][0];
    for (int t = 1; t < Taps; ++t) out += s[t] * ax.units[kx][t];
    return out;
}

// Within this distance of a half, average()'s float rounding (a relative
// error below 2^-19 on values up to 255) or this one's (below 2^-22)
// could round the other way.
constexpr float kNearHalf = 1.0f / 256;

// The colours, sum / sa rounded as average() rounds them, in lanes 1-3;
// false when an exact quotient lies too near a half to tell how that
// rounds. (Lane 0, sa / sa, gives 1.5 and passes.)
bool rounded(const Premultiplied& sums, float inv, Lanes& out) {
    const Premultiplied v = sums * inv + 0.5f;
    out = __builtin_convertvector(v, Lanes);
    const Premultiplied fraction = v - __builtin_convertvector(out, Premultiplied);
    const Lanes near = (fraction < kNearHalf) | (fraction > 1 - kNearHalf);
    return !(near[1] | near[2] | near[3]);
}

// Screen pixels from their sums, resolved as average() resolves them: its
// sums are these times the units' area, which changes neither the
// rounding of alpha nor the colours' quotients. The inside of a shape
// gives the same sums pixel after pixel (the overlaps of a screen pixel
// add up to its area whatever their split), so the last pixel resolved is
// kept: its divisions are most of the cost.
class Resolver {
public:
    explicit Resolver(uint32_t area) : twice_(2 * area), inverse_(1.0 / double(2 * area)) {}
    // False (nothing resolved) when average() must decide.
    bool Resolve(const Premultiplied& s, uint32_t& pixel) {
        if (known_ && same_sums(s, last_)) {
            pixel = pixel_;
            return true;
        }
        known_ = Compute(s, pixel);
        last_ = s, pixel_ = pixel;
        return known_;
    }

private:
    bool Compute(const Premultiplied& s, uint32_t& pixel) const {
        // (sa + area / 2) / area of average(), in units: a whole number
        // divided by area, rounded half up; by multiplying, as a division
        // costs more than all the rest, then set right where that missed.
        const uint32_t sa = uint32_t(s[0]), n = 2 * sa + twice_ / 2;
        uint32_t alpha = uint32_t(double(n) * inverse_);
        if (alpha * twice_ > n) --alpha;
        else if ((alpha + 1) * twice_ <= n) ++alpha;
        if (!alpha) {
            pixel = 0;
            return true;
        }
        const float inv = 1.0f / float(sa);
        Lanes c;
        if (!rounded(s, inv, c)) return false;
        pixel = alpha << 24 | uint32_t(c[1]) << 16 | uint32_t(c[2]) << 8 | uint32_t(c[3]);
        return true;
    }
    const uint32_t twice_;  // the area in units, twice
    const double inverse_;
    Premultiplied last_{0, 0, 0, 0};
    uint32_t pixel_ = 0;
    bool known_ = false;
};

// Screen words from region codes one to one; eight equal codes are looked
// up once.
void lookup_row(const unsigned char* row, int n, const uint32_t* words, uint32_t* to) {
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const unsigned char* at = row + k;
        if (eight(at) == at[0] * kEveryByte) {
            const uint32_t w = words[at[0]];
            for (int i = 0; i < 8; ++i) to[k + i] = w;
        } else {
            for (int i = 0; i < 8; ++i) to[k + i] = words[at[i]];
        }
    }
    for (; k < n; ++k) to[k] = words[row[k]];
}

// `Only`: 0 when the row's region rows do not cover it whole, else
// whether only_code looks at the codes (1) or the runs (2).
template <int Taps, int Only>
void scale_pixels(const pages::DvbRegion& region, const uint32_t* words, const uint32_t* shown, const Axis& ax,
                  const Axis& ay, int ky, uint32_t area, const Premultiplied* sums, const Runs& runs, int from,
                  Resolver& resolver, uint32_t* row) {
    for (int kx = 0; kx < ax.last - ax.first; ++kx) {
        if (ax.same[kx]) {
            row[kx] = row[kx - 1];
            continue;
        }
        const int code = Only ? only_code<Only == 1>(runs, ax, kx, from) : -1;
        if (code >= 0) row[kx] = shown[code];
        else if (!resolver.Resolve(sum_columns<Taps>(ax, kx, sums, from), row[kx]))
            row[kx] = average(region, words, ax, kx, ay, ky, area);
    }
}

// One scaled screen row from the column sums of the rows under it;
// `shown`: each code's colour, 0 where it is transparent.
template <int Taps>
void scale_row(const pages::DvbRegion& region, const uint32_t* words, const uint32_t* shown, const Axis& ax,
               const Axis& ay, int ky, uint32_t area, const Premultiplied* sums, const Runs& runs, int from,
               Resolver& resolver, uint32_t* row) {
    if (!runs.full)
        scale_pixels<Taps, 0>(region, words, shown, ax, ay, ky, area, sums, runs, from, resolver, row);
    else if (Taps <= 2 && runs.count <= 2)
        scale_pixels<Taps, 1>(region, words, shown, ax, ay, ky, area, sums, runs, from, resolver, row);
    else
        scale_pixels<Taps, 2>(region, words, shown, ax, ay, ky, area, sums, runs, from, resolver, row);
}

// The scaled image, a screen row at a time: the region columns under the
// span summed down the rows under it, then across. Where floats would not
// hold the sums exactly (a display of odd size), or the span is wider than
// their room (which no display of at most 1920 pixels gives), each pixel
// is averaged on its own.
// Whether screen row ky lies over a changed region row (see KeptImage):
// one of its taps, or the one under its centre; every row without
// `changed`.
bool redo(const unsigned char* changed, const Axis& ay, int ky, bool nearest) {
    if (!changed) return true;
    if (nearest) return ay.nearest[ky] >= 0 && changed[ay.nearest[ky]];
    for (int t = 0; t < ay.count[ky]; ++t)
        if (changed[ay.start[ky] + t]) return true;
    return false;
}

void scale(const Display& d, const pages::DvbRegion& region, const uint32_t* words, const Axis& ax,
           const Axis& ay, const unsigned char* changed, uint32_t* out) {
    // Room for the columns and for the taps of weight 0 past the last.
    static thread_local Premultiplied sums[kMaxDisplayWidth + kMaxTaps];
    const uint32_t area = uint32_t(d.width) * uint32_t(d.height);
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    const int from = ax.start[0], to = ax.start[w - 1] + ax.count[w - 1];
    if (!exact_in_floats(d, ax, ay) || to - from > kMaxDisplayWidth) {
        for (int ky = 0; ky < h; ++ky)
            for (int kx = 0; kx < w && redo(changed, ay, ky, false); ++kx)
                out[size_t(ky) * w + kx] = average(region, words, ax, kx, ay, ky, area);
        return;
    }
    Premultiplied table[256];
    premultiply(words, table);
    uint32_t shown[256];
    for (int i = 0; i < 256; ++i) shown[i] = words[i] >> 24 ? words[i] : 0;
    static thread_local Runs runs;
    Resolver resolver(uint32_t(d.width / ax.unit) * uint32_t(d.height / ay.unit));
    const auto row_of = ax.taps <= 1   ? scale_row<1>
                        : ax.taps == 2 ? scale_row<2>
                        : ax.taps == 3 ? scale_row<3>
                                       : scale_row<kMaxTaps>;
    for (int ky = 0; ky < h; ++ky) {
        uint32_t* row = out + size_t(ky) * w;
        if (!redo(changed, ay, ky, false)) continue;  // its taps, and so the row before if the same, unchanged
        if (ay.same[ky]) {
            std::memcpy(row, row - w, sizeof *row * size_t(w));
            continue;
        }
        sum_rows(region, table, ay, ky, from, to, sums, runs);
        row_of(region, words, shown, ax, ay, ky, area, sums, runs, from, resolver, row);
    }
}

// The image's rows, or those over `changed` region rows (see redo); an
// unscaled row lies over the region row of its number.
void compose_argb(const Display& d, const pages::DvbRegion& region, const Axis& ax, const Axis& ay, bool scaled,
                  const unsigned char* changed, uint32_t* out) {
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    if (scaled) {
        scale(d, region, region.argb, ax, ay, changed, out);
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
        if (changed && !(scaled ? redo(changed, ay, ky, true) : changed[ky])) continue;
        if (!scaled) {
            const unsigned char* row = region.codes + long(ky) * region.width;
            for (int kx = 0; kx < w; ++kx) to[kx] = table[row[kx]];
            continue;
        }
        const int sy = ay.nearest[ky];
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
    span(ax, dx, region.width, d.width, screen.width);
    span(ay, dy, region.height, d.height, screen.height);
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
            map_axis(ax, region.x, region.width, d.width, screen.width);
            map_axis(ay, region.y, region.height, d.height, screen.height);
        }
        if (bpp == 32) compose_argb(d, region, ax, ay, scaled, changed, reinterpret_cast<uint32_t*>(out));
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
