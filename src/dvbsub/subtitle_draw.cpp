// A region onto the 720 x 576 screen. A page is composed for the display
// that its display definition names (EN 300 743 §7.2.1), 720 x 576 without
// one; each region is placed at its display position (offset by the
// display window) and scaled onto the screen:
//  - on 32-bit screens colour and alpha are averaged over the area that a
//    screen pixel covers (premultiplied by alpha, so that transparent
//    pixels do not darken the edges of the text) and blitted as ARGB;
//  - on one-byte screens the nearest display pixel is taken, written as
//    0xF0 | a 4-bit entry for the box's hardware palette.
// Without scaling every pixel keeps its own colour.
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/ByteReader.h"
#include "display/IDisplayDevice.h"
#include "dvbsub/subtitle.h"
#include "platform/Log.h"

namespace {

constexpr int kMaxTaps = 4;  // display pixels per screen pixel and axis, at most

// 0xRRGGBBAA -> 0xAARRGGBB, the word that BlitARGB takes.
uint32_t argb(int colour) {
    const uint32_t c = uint32_t(colour);
    return (c >> 8) | (c << 24);
}

// Where a region lands on one axis of the screen: screen pixels [first,
// last) and, for each, the region pixels it covers with their overlap (in
// units of 1 / screen size of a display pixel).
struct Axis {
    int first = 0, last = 0;
    int start[kScreenWidth];
    int count[kScreenWidth];
    int weight[kScreenWidth][kMaxTaps];
    int nearest[kScreenWidth];  // the region pixel under the centre, -1 none
};

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
    for (int s = a.first; s < a.last; ++s) {
        const int k = s - a.first;
        const long lo = long(s) * display, hi = long(s + 1) * display;  // in 1/screen display pixels
        long i = lo / screen;
        if (i < pos) i = pos;
        a.start[k] = int(i - pos);
        a.count[k] = 0;
        for (; i < pos + len && i * screen < hi && a.count[k] < kMaxTaps; ++i) {
            const long from = i * screen > lo ? i * screen : lo;
            const long to = (i + 1) * screen < hi ? (i + 1) * screen : hi;
            a.weight[k][a.count[k]++] = int(to - from);
        }
        const long centre = (long(2 * s + 1) * display) / (2L * screen) - pos;
        a.nearest[k] = centre >= 0 && centre < len ? int(centre) : -1;
    }
}

// The area average of the region pixels under one screen pixel. Alpha sums
// stay below 2^31 (255 x 720 x 576 x 12 taps at most); colour sums are
// kept in floating point, and divided only where something shows.
uint32_t average(const subtitle_region* region, const uint32_t* words, const Axis& ax, int kx, const Axis& ay,
                 int ky, uint32_t area) {
    uint32_t sa = 0;
    float sr = 0, sg = 0, sb = 0;
    for (int ty = 0; ty < ay.count[ky]; ++ty) {
        const unsigned char* row = region->pixels + long(ay.start[ky] + ty) * region->width + ax.start[kx];
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

// The context's image buffer, grown to `bytes`; null (said) when it cannot be.
unsigned char* image(subtitle_ctx* ctx, const subtitle_region* region, size_t bytes) {
    if (bytes <= ctx->imageBytes) return ctx->image;
    unsigned char* grown = new (std::nothrow) unsigned char[bytes];
    if (!grown) {
        eWarning("ERROR: Could not allocate the screen image of region %d.\n", region->regionId);
        return nullptr;
    }
    delete[] ctx->image;
    ctx->image = grown;
    ctx->imageBytes = bytes;
    return grown;
}

void blit_argb(subtitle_ctx* ctx, const subtitle_region* region, const subtitle_clut* clut, const Axis& ax,
               const Axis& ay, bool scaled) {
    int n = 0;
    const int* family = subtitle_clut_family(clut, region->depth, &n);
    uint32_t words[256] = {};
    for (int i = 0; i < n; ++i) words[i] = argb(family[i]);
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    uint32_t* out = reinterpret_cast<uint32_t*>(image(ctx, region, size_t(w) * h * sizeof(uint32_t)));
    if (!out) return;
    const uint32_t area = uint32_t(ctx->display.width) * uint32_t(ctx->display.height);
    for (int ky = 0; ky < h; ++ky) {
        uint32_t* to = out + size_t(ky) * w;
        if (!scaled) {
            const unsigned char* row = region->pixels + long(ky) * region->width;
            for (int kx = 0; kx < w; ++kx) to[kx] = words[row[kx]];
            continue;
        }
        for (int kx = 0; kx < w; ++kx) to[kx] = average(region, words, ax, kx, ay, ky, area);
    }
    ctx->device->BlitARGB(out, w, h, ax.first, ay.first);
}

// Palette indices for the box, whose palette holds the 4-bit default CLUT
// (EN 300 743 §10.2) at 0xF0-0xFF: each entry of the region's CLUT as the
// default entry nearest to its colour. With the default CLUTs that is the
// code itself (2-bit codes through the 2-to-4 map of §10.4); a broadcast
// CLUT (a grey ramp for anti-aliased text, say) keeps its look instead of
// showing its codes in the default colours. 2- and 4-bit entries keep
// every place drawn: only a transparent entry gives 0xF0. 8-bit entries
// more than half transparent give 0.
void index_table(const subtitle_region* region, const subtitle_clut* clut, unsigned char* table) {
    std::memset(table, 0, 256);
    int n = 0;
    const int* family = subtitle_clut_family(clut, region->depth, &n);
    for (int i = 0; i < n; ++i) {
        if (region->depth == 3) {
            const int entry = subtitle_nearest_default4(family[i]);
            table[i] = entry ? 0xF0 | entry : 0;
        } else {
            table[i] = (family[i] & 0xFF) == 0 ? 0xF0 : 0xF0 | subtitle_nearest_default4_rgb(family[i]);
        }
    }
}

void blit_indices(subtitle_ctx* ctx, const subtitle_region* region, const subtitle_clut* clut, const Axis& ax,
                  const Axis& ay, bool scaled) {
    unsigned char table[256];
    index_table(region, clut, table);
    const int w = ax.last - ax.first, h = ay.last - ay.first;
    unsigned char* out = image(ctx, region, size_t(w) * h);
    if (!out) return;
    for (int ky = 0; ky < h; ++ky) {
        unsigned char* to = out + size_t(ky) * w;
        if (!scaled) {
            const unsigned char* row = region->pixels + long(ky) * region->width;
            for (int kx = 0; kx < w; ++kx) to[kx] = table[row[kx]];
            continue;
        }
        const int sy = ay.nearest[ky];
        const unsigned char* row = sy >= 0 ? region->pixels + long(sy) * region->width : nullptr;
        for (int kx = 0; kx < w; ++kx) {
            const int sx = ax.nearest[kx];
            to[kx] = row && sx >= 0 ? table[row[sx]] : 0;
        }
    }
    ctx->device->BlitBitmap(out, w, h, ax.first, ay.first);
}

void grow_bbox(subtitle_ctx* ctx, int left, int top, int right, int bottom) {
    if (left < ctx->bboxLeft) ctx->bboxLeft = left;
    if (top < ctx->bboxTop) ctx->bboxTop = top;
    if (right > ctx->bboxRight) ctx->bboxRight = right;
    if (bottom > ctx->bboxBottom) ctx->bboxBottom = bottom;
}

}  // namespace

void subtitle_draw_region(subtitle_ctx* ctx, const subtitle_region* region, const subtitle_clut* clut, int x,
                          int y) {
    const subtitle_display& d = ctx->display;
    const long dx = long(d.windowX) + x, dy = long(d.windowY) + y;
    // The skip test of an unscaled page, in screen coordinates.
    if (x < 0 || y < 0 || dx * kScreenWidth / d.width > kScreenWidth ||
        dy * kScreenHeight / d.height > kScreenHeight)
        return;
    static thread_local Axis ax, ay;
    span(ax, dx, region->width, d.width, kScreenWidth);
    span(ay, dy, region->height, d.height, kScreenHeight);
    if (ax.last <= ax.first || ay.last <= ay.first) {
        grow_bbox(ctx, ax.first, ay.first, ax.first, ay.first);
        return;
    }
    // The box stays on the screen: its rows are what a clear fills.
    grow_bbox(ctx, ax.first, ay.first, ax.last, ay.last);
    if (!region->pixels || !subtitle_ok_to_draw(ctx)) return;
    const bool scaled = d.width != kScreenWidth || d.height != kScreenHeight;
    if (scaled) {
        map_axis(ax, dx, region->width, d.width, kScreenWidth);
        map_axis(ay, dy, region->height, d.height, kScreenHeight);
    }
    if (ctx->device->GetBPP() == 32) {
        blit_argb(ctx, region, clut, ax, ay, scaled);
    } else {
        subtitle_set_palette(ctx, clut);
        blit_indices(ctx, region, clut, ax, ay, scaled);
    }
}

void subtitle_process_display_definition(subtitle_ctx* ctx, const unsigned char* data, int length) {
    ByteReader body(data, length > 0 ? size_t(length) : 0);
    const int flags = body.U8();
    const int version = flags >> 4;
    const int width = body.U16() + 1, height = body.U16() + 1;
    int hmin = 0, hmax = 0, vmin = 0, vmax = 0;
    const bool window = flags & 0x08;
    if (window) hmin = body.U16(), hmax = body.U16(), vmin = body.U16(), vmax = body.U16();
    if (!body.Ok()) {
        eWarning("ERROR: Display definition cut short (%d bytes).\n", length);
        return;
    }
    if (width > kSubtitleMaxDisplayWidth || height > kSubtitleMaxDisplayHeight) {
        eWarning("ERROR: Display of %dx%d refused (at most %dx%d).\n", width, height, kSubtitleMaxDisplayWidth,
               kSubtitleMaxDisplayHeight);
        return;
    }
    if (window && (hmin > hmax || hmax >= width || vmin > vmax || vmax >= height)) {
        eWarning("ERROR: Display window %d-%d, %d-%d lies outside the %dx%d display, ignored.\n", hmin, hmax, vmin,
               vmax, width, height);
        hmin = vmin = 0;
    }
    subtitle_display& d = ctx->display;
    if (d.version != version || d.width != width || d.height != height || d.windowX != hmin || d.windowY != vmin)
        eTrace("Display %dx%d, window at %d,%d.\n", width, height, hmin, vmin);
    d.version = version;
    d.width = width;
    d.height = height;
    d.windowX = hmin;
    d.windowY = vmin;
}
