// A DVB region scaled onto a 32-bit screen: colour and alpha averaged over
// the area that a screen pixel covers, premultiplied by alpha so that
// transparent pixels do not darken the edges of the text. Every screen
// pixel is the exact quotient of whole-number sums, rounded half up
// (average); the composition takes the sums down the rows, then across,
// with shortcuts:
//  - stretches of screen pixels over one code only (the background, the
//    insides of letters) take that code's colour as it is;
//  - the other pixels are resolved four at a time, in floats where the
//    sums and their products are whole numbers below 2^24, and so exact;
// and gives exactly what the sum pixel by pixel gives.
#include "render/DvbScale.h"

#include <algorithm>
#include <cstring>

namespace render {
namespace {

int gcd(int a, int b) { return b ? gcd(b, a % b) : a; }

// For each region column from start[0], the first pixel starting there or
// later and the first ending there or later (see Axis); both go up with
// the pixel, as its taps do.
void map_columns(Axis& a) {
    const int n = a.last - a.first;
    const int from = a.start[0], columns = a.start[n - 1] + a.count[n - 1] - from;
    int starting = 0, ending = 0;
    for (int c = 0; c <= columns && c <= kMaxDisplayWidth; ++c) {
        while (starting < n && a.start[starting] - from < c) ++starting;
        while (ending < n && a.start[ending] + a.count[ending] - 1 - from < c) ++ending;
        a.startingAt[c] = starting;
        a.endingAt[c] = ending;
    }
}

// The area average of the region pixels under one screen pixel, as the
// straightforward sum over its taps: alpha, the sum of alphas times
// overlaps over the pixel's area, and each colour, the sum of colours
// times alphas times overlaps over the sum of alphas, both rounded half
// up. Alpha sums stay below 2^31 (255 x 1920 x 1080 at most). This is the
// rule the screen follows; the separable sums below give the same pixels
// faster.
struct Sums {
    uint32_t a = 0;
    uint64_t r = 0, g = 0, b = 0;
    void Add(uint32_t word, uint32_t weight) {
        const uint32_t a = (word >> 24) * weight;
        this->a += a;
        r += uint64_t(a) * ((word >> 16) & 0xFF);
        g += uint64_t(a) * ((word >> 8) & 0xFF);
        b += uint64_t(a) * (word & 0xFF);
    }
    uint32_t Pixel(uint32_t area) const {
        const uint32_t alpha = a ? (a + area / 2) / area : 0;
        if (!alpha) return 0;
        const uint64_t twice = 2 * uint64_t(a);
        const auto channel = [&](uint64_t sum) { return uint32_t((2 * sum + a) / twice); };
        return alpha << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
    }
};

uint32_t average(const pages::DvbRegion& region, const uint32_t* words, const Axis& ax, int kx, const Axis& ay,
                 int ky, uint32_t area) {
    Sums sums;
    for (int ty = 0; ty < ay.count[ky]; ++ty) {
        const unsigned char* row = region.codes + long(ay.start[ky] + ty) * region.width + ax.start[kx];
        const uint32_t wy = uint32_t(ay.weight[ky][ty]);
        for (int tx = 0; tx < ax.count[kx]; ++tx) sums.Add(words[row[tx]], wy * uint32_t(ax.weight[kx][tx]));
    }
    return sums.Pixel(area);
}

// The same rule for a screen pixel over more display pixels than an axis
// holds taps for (a small screen): the overlaps are worked out here.
uint32_t average_wide(const pages::DvbRegion& region, const uint32_t* words, const Display& d,
                      const Placement& screen, long sx, long sy) {
    const auto range = [](long s, long pos, long len, long display, long size, long& lo, long& hi) {
        lo = std::max(s * display / size, pos), hi = std::min(((s + 1) * display + size - 1) / size, pos + len);
    };
    const auto overlap = [](long i, long s, long display, long size) {
        return std::min((i + 1) * size, (s + 1) * display) - std::max(i * size, s * display);
    };
    long x0, x1, y0, y1;
    range(sx, region.x, region.width, d.width, screen.width, x0, x1);
    range(sy, region.y, region.height, d.height, screen.height, y0, y1);
    Sums sums;
    for (long y = y0; y < y1; ++y) {
        const uint32_t wy = uint32_t(overlap(y, sy, d.height, screen.height));
        const unsigned char* row = region.codes + (y - region.y) * region.width;
        for (long x = x0; x < x1; ++x)
            sums.Add(words[row[x - region.x]], wy * uint32_t(overlap(x, sx, d.width, screen.width)));
    }
    return sums.Pixel(uint32_t(d.width) * uint32_t(d.height));
}

// A colour premultiplied by its alpha, or a sum of such colours times
// overlaps (in units, see Axis): alpha, alpha x red, alpha x green, alpha
// x blue. Every sum is a whole number; below 2^24 a float holds it
// exactly (see exact_in_floats). The four are one vector (GCC's and
// Clang's vector extension: SSE on a PC, NEON on an ARM box), so that a
// tap is one multiply and one add.
typedef float Premultiplied __attribute__((vector_size(16)));
typedef int32_t Lanes __attribute__((vector_size(16)));

// Each code's colour premultiplied, and as it shows (0 where it is
// transparent), kept from region to region: a broadcaster keeps its CLUT
// for hours, so that only the entries that changed are worked out again.
struct Colours {
    uint32_t words[256] = {};
    Premultiplied table[256] = {};
    uint32_t shown[256] = {};
    void Set(const uint32_t* argb, int entries) {
        for (int i = 0; i < 256; ++i) {
            const uint32_t w = i < entries ? argb[i] : 0;
            if (w == words[i]) continue;
            const uint32_t a = w >> 24;
            words[i] = w;
            table[i] = Premultiplied{float(a), float(a * ((w >> 16) & 0xFF)), float(a * ((w >> 8) & 0xFF)),
                                     float(a * (w & 0xFF))};
            shown[i] = a ? w : 0;
        }
    }
};

// The alpha sum of a screen pixel comes to at most 255 x its area in
// units (display width / unit across times display height / unit down);
// the resolver's largest number is a quotient of at most 256 times twice
// that: whole numbers below 2^24, and so exact in floats, for every
// common display (1920 x 1080: 8 x 15 units; 1280 x 720: 16 x 5;
// 320 x 240: 4 x 5).
bool exact_in_floats(const Display& d, const Axis& ax, const Axis& ay) {
    const long area = long(d.width / ax.unit) * long(d.height / ay.unit);
    return 256L * 2 * 255 * area < (1L << 24);
}

// What a screen row takes from the region: the region rows under it, and
// the stretches of region columns [begin, end) (from the span's first)
// on which all those rows hold one code.
struct RowTaps {
    const unsigned char* rows[kMaxTaps];
    int count = 0;
    bool full = false;  // the rows cover the screen row whole (see Axis)
    int spans = 0;
    int begin[kMaxDisplayWidth], end[kMaxDisplayWidth];
    uint8_t code[kMaxDisplayWidth];
    void Add(int b, int e, uint8_t c) {
        if (spans && end[spans - 1] == b && code[spans - 1] == c) {
            end[spans - 1] = e;
            return;
        }
        begin[spans] = b, end[spans] = e, code[spans] = c;
        ++spans;
    }
};

// True when the eight codes from column x of every row are one code, that
// of rows[0][x].
template <int Taps>
bool same_eight(const unsigned char* const* rows, int x) {
    const uint64_t run = rows[0][x] * kEveryByte;
    for (int t = 0; t < Taps; ++t)
        if (EightCodes(rows[t] + x) != run) return false;
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
// the screen row times their overlaps; eight columns at a time, as one
// product where they are a run, which is noted as a stretch when
// `Stretches` (on shrinking: a screen pixel covers two or more columns,
// and so most of a stretch of eight). The number of rows is a constant of
// the loop, which the compiler unrolls.
template <int Taps, bool Stretches>
void sum_rows(const Premultiplied* table, const float* wy, int from, int to, Premultiplied* sums, RowTaps& r) {
    const unsigned char* const* rows = r.rows;
    float total = 0;
    for (int t = 0; t < Taps; ++t) total += wy[t];
    int x = from;
    for (; x + 8 <= to; x += 8) {
        Premultiplied* out = sums + (x - from);
        if (same_eight<Taps>(rows, x)) {
            const Premultiplied s = table[rows[0][x]] * total;
            for (int k = 0; k < 8; ++k) out[k] = s;
            if (Stretches) r.Add(x - from, x - from + 8, rows[0][x]);
        } else {
            for (int k = 0; k < 8; ++k) out[k] = column<Taps>(table, rows, wy, x + k);
        }
    }
    for (; x < to; ++x) sums[x - from] = column<Taps>(table, rows, wy, x);
}

// The stretches column by column, for enlarging (a display pixel under
// two or more screen pixels): each the longest run of columns that every
// row under the screen row holds in one code.
template <int Taps>
void column_stretches(int from, int to, RowTaps& r) {
    const unsigned char* const* rows = r.rows;
    const auto one = [rows](int x, unsigned char c) {
        bool same = rows[0][x] == c;
        for (int t = 1; t < Taps; ++t) same &= rows[t][x] == c;
        return same;
    };
    int n = 0;
    for (int x = from; x < to;) {
        const unsigned char c = rows[0][x];
        if (!one(x, c)) {
            ++x;
            continue;
        }
        int e = x + 1;
        while (e < to && one(e, c)) ++e;
        r.begin[n] = x - from, r.end[n] = e - from, r.code[n] = c;
        ++n;
        x = e;
    }
    r.spans = n;
}

template <int Taps>
void row_sums(const Premultiplied* table, const float* wy, int from, int to, bool enlarging, Premultiplied* sums,
              RowTaps& r) {
    // A row on the region's top or bottom edge has no stretch: no pixel of
    // it covers its codes whole.
    if (r.full && !enlarging) return sum_rows<Taps, true>(table, wy, from, to, sums, r);
    sum_rows<Taps, false>(table, wy, from, to, sums, r);
    if (r.full && enlarging) column_stretches<Taps>(from, to, r);
}

void row_sums(const pages::DvbRegion& region, const Premultiplied* table, const Axis& ay, int ky, int from, int to,
              bool enlarging, Premultiplied* sums, RowTaps& r) {
    r.count = ay.count[ky];
    r.full = ay.full[ky];
    r.spans = 0;
    for (int t = 0; t < r.count; ++t) r.rows[t] = region.codes + long(ay.start[ky] + t) * region.width;
    const float* wy = ay.units[ky];
    switch (r.count) {
    case 1:
        return row_sums<1>(table, wy, from, to, enlarging, sums, r);
    case 2:
        return row_sums<2>(table, wy, from, to, enlarging, sums, r);
    case 3:
        return row_sums<3>(table, wy, from, to, enlarging, sums, r);
    case 4:
        return row_sums<4>(table, wy, from, to, enlarging, sums, r);
    default:  // no row (which MapAxis never gives)
        r.full = false;
        for (int x = from; x < to; ++x) sums[x - from] = Premultiplied{0, 0, 0, 0};
    }
}

// The second half (the horizontal one) for screen pixel kx: the region
// columns under it times their overlaps. Taps: the most of the span; a
// pixel with fewer has weight 0 past its count (see MapAxis), so that the
// loop has no branches.
template <int Taps>
Premultiplied sum_columns(const Axis& ax, int kx, const Premultiplied* sums, int from) {
    const Premultiplied* s = sums + (ax.start[kx] - from);
    Premultiplied out = s[0] * ax.units[kx][0];
    for (int t = 1; t < Taps; ++t) out += s[t] * ax.units[kx][t];
    return out;
}

// Screen pixels from their sums, resolved as average() resolves them: its
// sums are these times the units' area, which changes neither alpha nor
// the colours' quotients. Four pixels at a time, each channel of the four
// in one vector, without a branch. A quotient is taken by multiplying by
// the divisor's inverse, then set right by one where that missed: the
// numbers and their products are exact (see exact_in_floats).
typedef uint32_t Words __attribute__((vector_size(16)));

class Resolver {
public:
    explicit Resolver(uint32_t area) : area_(Splat(float(area))), twice_(area_ * 2), inverse_(1.0f / twice_) {}
    // The pixels of the sums p[0..3].
    void Resolve(const Premultiplied* p, uint32_t* pixels) const {
        const Premultiplied a{p[0][0], p[1][0], p[2][0], p[3][0]};
        // (sa + area / 2) / area, rounded down: (2 sa + area) / (2 area).
        const Lanes alpha = Quotient(a * 2 + area_, twice_, inverse_);
        // Where nothing shows every lane is 0, and so is the pixel.
        const Premultiplied twice = a * 2 + (a == 0 ? 1.0f : 0.0f);
        const Premultiplied inv = 1.0f / twice;
        // (2 sum + sa) / (2 sa), rounded down: sum / sa rounded half up.
        const auto channel = [&](int lane) {
            const Premultiplied sum{p[0][lane], p[1][lane], p[2][lane], p[3][lane]};
            return __builtin_convertvector(Quotient(sum * 2 + a, twice, inv), Words);
        };
        const Words r = channel(1), g = channel(2), b = channel(3);
        const Words shows = __builtin_convertvector(alpha != 0, Words);
        const Words pixel = (__builtin_convertvector(alpha, Words) << 24 | r << 16 | g << 8 | b) & shows;
        std::memcpy(pixels, &pixel, sizeof pixel);
    }

private:
    static Premultiplied Splat(float x) { return Premultiplied{x, x, x, x}; }
    // n / d rounded down, for whole n and d whose products with the
    // quotient stay below 2^24; `inverse` is 1 / d.
    static Lanes Quotient(const Premultiplied& n, const Premultiplied& d, const Premultiplied& inverse) {
        Lanes q = __builtin_convertvector(n * inverse, Lanes);
        const Premultiplied low = __builtin_convertvector(q, Premultiplied) * d;
        q += low > n;  // true is -1
        q -= low + d <= n;
        return q;
    }
    const Premultiplied area_, twice_, inverse_;  // the area in units, twice that, and its inverse
};

// What the pixels of a screen row are made from.
struct RowSource {
    const Axis& ax;
    const uint32_t* shown;  // each code's colour, 0 where it is transparent
    const Premultiplied* sums;
    int from;
};

// Screen pixels at[0..M) from their sums (M at most 4).
template <int Taps, int M>
inline __attribute__((always_inline)) void resolve_pixels(const RowSource& s, const int* at, const Resolver& resolver,
                                                          uint32_t* row) {
    Premultiplied p[4] = {};
    for (int i = 0; i < M; ++i) p[i] = sum_columns<Taps>(s.ax, at[i], s.sums, s.from);
    uint32_t pixels[4];
    resolver.Resolve(p, pixels);
    for (int i = 0; i < M; ++i) row[at[i]] = pixels[i];
}

// Screen pixels at[0..n) of a row from their sums, four at a time.
template <int Taps>
void scale_pixels(const RowSource& s, const int* at, int n, const Resolver& resolver, uint32_t* row) {
    int k = 0;
    for (; k + 4 <= n; k += 4) resolve_pixels<Taps, 4>(s, at + k, resolver, row);
    switch (n - k) {
    case 3:
        return resolve_pixels<Taps, 3>(s, at + k, resolver, row);
    case 2:
        return resolve_pixels<Taps, 2>(s, at + k, resolver, row);
    case 1:
        return resolve_pixels<Taps, 1>(s, at + k, resolver, row);
    }
}

// One scaled screen row: the pixels over one stretch each take its
// code's colour, those between them their sums.
template <int Taps>
void scale_row(const RowSource& s, const RowTaps& r, const Resolver& resolver, uint32_t* row) {
    static thread_local int between[kMaxScreenWidth];
    const Axis& ax = s.ax;
    const int w = ax.last - ax.first;
    int n = 0, kx = 0;
    for (int j = 0; j < r.spans; ++j) {
        // Only the pixels on the region's edges cover less than a pixel.
        const int k1 = std::max(ax.startingAt[r.begin[j]], ax.firstFull);
        const int k2 = std::min(ax.endingAt[r.end[j]], ax.lastFull);
        if (k2 <= k1) continue;
        for (int i = 0; i < k1 - kx; ++i) between[n + i] = kx + i;
        n += k1 - kx;
        const uint32_t colour = s.shown[r.code[j]];
        // Enlarging, a stretch is a few pixels: four words, those past it
        // written again by what follows in the row.
        if (k2 - k1 <= 4 && k1 + 4 <= w) row[k1] = row[k1 + 1] = row[k1 + 2] = row[k1 + 3] = colour;
        else std::fill(row + k1, row + k2, colour);
        kx = k2;
    }
    for (int i = 0; i < w - kx; ++i) between[n + i] = kx + i;
    n += std::max(w - kx, 0);
    scale_pixels<Taps>(s, between, n, resolver, row);
}

// Whether screen row ky lies over a changed region row (see KeptImage):
// one of its taps; every row without `changed`.
bool redo(const unsigned char* changed, const Axis& ay, int ky) {
    if (!changed) return true;
    for (int t = 0; t < ay.count[ky]; ++t)
        if (changed[ay.start[ky] + t]) return true;
    return false;
}

// Pixel by pixel, where the separable sums cannot serve: a pixel over
// more region pixels than the axes hold taps for, or sums that floats
// would not hold exactly (a display of odd size).
void scale_each(const Display& d, const Placement& screen, const pages::DvbRegion& region, const uint32_t* words,
                const Axis& ax, const Axis& ay, const unsigned char* changed, uint32_t* out) {
    const uint32_t area = uint32_t(d.width) * uint32_t(d.height);
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    for (int ky = 0; ky < h; ++ky) {
        if (!redo(changed, ay, ky)) continue;
        for (int kx = 0; kx < w; ++kx)
            out[size_t(ky) * w + kx] = ax.wide || ay.wide
                                           ? average_wide(region, words, d, screen, ax.first + kx, ay.first + ky)
                                           : average(region, words, ax, kx, ay, ky, area);
    }
}

}  // namespace

void SpanAxis(Axis& a, long pos, long len, int display, int screen) {
    a.first = int(pos * screen / display);
    const long last = ((pos + len) * screen + display - 1) / display;
    a.last = int(last < screen ? last : screen);
}

// The region pixels under each screen pixel of the span, with their
// overlap (in units of 1 / screen of a display pixel), and the one under
// its centre.
void MapAxis(Axis& a, long pos, long len, int display, int screen, bool across) {
    const long key[6] = {pos, len, display, screen * 2 + long(across), a.first, a.last};
    if (std::equal(key, key + 6, a.mapped)) return;
    std::copy(key, key + 6, a.mapped);
    a.unit = gcd(display, screen);
    a.taps = 0;
    a.wide = false;
    for (int s = a.first; s < a.last; ++s) {
        const int k = s - a.first;
        for (float& u : a.units[k]) u = 0;
        const long lo = long(s) * display, hi = long(s + 1) * display;  // in 1/screen display pixels
        long i = lo / screen;
        if (i < pos) i = pos;
        a.start[k] = int(i - pos);
        a.count[k] = 0;
        for (; i < pos + len && i * screen < hi; ++i) {
            if (a.count[k] == kMaxTaps) {
                a.wide = true;
                break;
            }
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
    // Only the first and the last pixel can lie on the region's edge.
    const int n = a.last - a.first;
    a.firstFull = n > 0 && !a.full[0];
    a.lastFull = n > a.firstFull && !a.full[n - 1] ? n - 1 : n;
    if (across && n > 0) map_columns(a);
}

void ScaleArgb(const Display& d, const Placement& screen, const pages::DvbRegion& region, const Axis& ax,
               const Axis& ay, const unsigned char* changed, uint32_t* out) {
    // Room for the columns and for the taps of weight 0 past the last.
    static thread_local Premultiplied sums[kMaxDisplayWidth + kMaxTaps];
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    const int from = ax.start[0], to = ax.start[w - 1] + ax.count[w - 1];
    if (ax.wide || ay.wide || !exact_in_floats(d, ax, ay) || to - from > kMaxDisplayWidth)
        return scale_each(d, screen, region, region.argb, ax, ay, changed, out);
    static thread_local Colours colours;
    colours.Set(region.argb, std::min(std::max(region.entries, 0), 256));
    const Premultiplied* table = colours.table;
    static thread_local RowTaps taps;
    const RowSource source{ax, colours.shown, sums, from};
    const Resolver resolver(uint32_t(d.width / ax.unit) * uint32_t(d.height / ay.unit));
    const auto row_of = ax.taps <= 1   ? scale_row<1>
                        : ax.taps == 2 ? scale_row<2>
                        : ax.taps == 3 ? scale_row<3>
                                       : scale_row<kMaxTaps>;
    // Fewer columns than pixels: a column is under two pixels or more.
    const bool enlarging = to - from < w;
    for (int ky = 0; ky < h; ++ky) {
        uint32_t* row = out + size_t(ky) * w;
        if (!redo(changed, ay, ky)) continue;  // its taps, and so the row before if the same, unchanged
        if (ay.same[ky]) {
            std::memcpy(row, row - w, sizeof *row * size_t(w));
            continue;
        }
        row_sums(region, table, ay, ky, from, to, enlarging, sums, taps);
        row_of(source, taps, resolver, row);
    }
}

}  // namespace render
