// Screen composition of decoded pages: CLUT to display colours, region
// blits, the bounding box of what was drawn (so that exactly those rows are
// cleared), the check that nothing else occupies the screen, and the time
// a page may stay.
#include <cstring>
#include <new>

#include "platform/Log.h"
#include "display/IDisplayDevice.h"
#include "dvbsub/subtitle.h"

namespace {

constexpr int kSampleColumn = 360;  // the screen centre

int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

void grow_bbox(subtitle_ctx* ctx, int left, int top, int right, int bottom) {
    if (left < ctx->bboxLeft) ctx->bboxLeft = left;
    if (top < ctx->bboxTop) ctx->bboxTop = top;
    if (right > ctx->bboxRight) ctx->bboxRight = right;
    if (bottom > ctx->bboxBottom) ctx->bboxBottom = bottom;
}

// Blits the part of a region that lies on the 720 x 576 screen. Rows below
// the screen are cut by the height; columns beyond it need a narrower copy.
void blit_region(subtitle_ctx* ctx, subtitle_region* region, int x, int y) {
    const int width = region->width < kScreenWidth - x ? region->width : kScreenWidth - x;
    const int height = region->height < kScreenHeight - y ? region->height : kScreenHeight - y;
    if (width <= 0 || height <= 0 || !region->pixels) return;
    unsigned char* pixels = region->pixels;
    unsigned char* copy = nullptr;
    if (width < region->width) {
        copy = new (std::nothrow) unsigned char[size_t(width) * height];
        if (!copy) {
            eDebug("ERROR: Could not allocate the clipped region %d.\n", region->regionId);
            return;
        }
        for (int row = 0; row < height; ++row)
            std::memcpy(copy + size_t(row) * width, region->pixels + size_t(row) * region->width, width);
        pixels = copy;
    }
    ctx->device->Lock();
    ctx->device->BlitBitmap(pixels, width, height, x, y);
    ctx->device->UnLock();
    delete[] copy;
}

subtitle_region* find_region(subtitle_page* page, int regionId) {
    for (subtitle_region* r = page->regions; r; r = r->next)
        if (r->regionId == regionId) return r;
    return nullptr;
}

const subtitle_clut* find_clut(const subtitle_page* page, int clutId) {
    for (const subtitle_clut* c = page->cluts; c; c = c->next)
        if (c->clutId == clutId) return c;
    return nullptr;
}

// Draws the page's regions; true when any region was found (drawn or not).
bool draw_regions(subtitle_ctx* ctx, subtitle_page* page) {
    bool drawn = false;
    const subtitle_region_ref* first = page->regionRefs;
    for (const subtitle_region_ref* ref = first; ref; ref = ref->next) {
        if (ref != first && ref->regionId == first->regionId) break;
        eDebug("    Draw Region: %d\n", ref->regionId);
        subtitle_region* region = find_region(page, ref->regionId);
        if (!region) {
            eDebug("ERROR: Region not found.\n");
            continue;
        }
        subtitle_set_palette(ctx, find_clut(page, region->clutId));
        drawn = true;
        if (ref->x < 0 || ref->x > kScreenWidth || ref->y < 0 || ref->y > kScreenHeight) continue;
        // The box stays on the screen: its rows are what a clear fills.
        int right = ref->x + region->width, bottom = ref->y + region->height;
        grow_bbox(ctx, ref->x, ref->y, right < kScreenWidth ? right : kScreenWidth,
                  bottom < kScreenHeight ? bottom : kScreenHeight);
        if (subtitle_ok_to_draw(ctx)) blit_region(ctx, region, ref->x, ref->y);
    }
    return drawn;
}

}  // namespace

int subtitle_entry_color(const unsigned char* entry) {
    const int y = entry[0], cr = entry[1], cb = entry[2], t = entry[3];
    if (y == 0) return 0;  // Y = 0 is the transparent entry, whatever else it says
    // ITU-R BT.709 limited range, in 8-bit fixed point.
    const int r = clamp255((298 * (y - 16) + 460 * (cr - 128)) / 256);
    const int g = clamp255((298 * (y - 16) - 55 * (cb - 128) - 137 * (cr - 128)) / 256);
    const int b = clamp255((298 * (y - 16) + 543 * (cb - 128)) / 256);
    const unsigned alpha = 255u - unsigned(t);
    return int(unsigned(r) << 24 | unsigned(g) << 16 | unsigned(b) << 8 | alpha);
}

int subtitle_default_color(int slot) {
    if (slot <= 0 || slot > 15) return 0;
    const unsigned level = slot < 8 ? 255u : 128u;
    const unsigned r = slot & 1 ? level : 0, g = slot & 2 ? level : 0, b = slot & 4 ? level : 0;
    return int(r << 24 | g << 16 | b << 8 | 255u);
}

// Slots 0-15 only: the display pairs decoded pixels (0xF0 + entry) and
// background fills (the bare entry) with the same slot. Every slot the
// CLUT defines is programmed, also when its entries are not contiguous
// from 0 (a CLUT of entries 0, 1 and 9 programs slot 9 too).
void subtitle_set_palette(subtitle_ctx* ctx, const subtitle_clut* clut) {
    if (!ctx->device) return;
    for (int i = 0; i < 16; ++i) {
        if (!clut)
            ctx->device->SetRawColor(i, subtitle_default_color(i));
        else if (clut->definedMask & (1u << i))
            ctx->device->SetRawColor(i, subtitle_entry_color(clut->entries[i]));
    }
}

int subtitle_is_on_collision(subtitle_ctx* ctx, int x, int y) {
    if (ctx->bboxTop <= y && y <= ctx->bboxBottom) return 0;
    unsigned char pixel[4] = {0, 0, 0, 0};
    ctx->device->ReadPixel(x, y, pixel);
    return pixel[0] != 0 ? 1 : 0;
}

int subtitle_ok_to_draw(subtitle_ctx* ctx) {
    if (!ctx->device) return 0;
    for (int y = 0; y < kScreenHeight; y += 2)
        if (subtitle_is_on_collision(ctx, kSampleColumn, y)) return 0;
    return 1;
}

void subtitle_redraw(subtitle_ctx* ctx, int pageId) {
    eDebug("  Redraw Page: %d\n", pageId);
    subtitle_page* page = subtitle_find_page(ctx, pageId);
    if (!page) return;
    bool drawn = false;
    if (page->regionRefs && page->regionRefs->regionId != 0xFFFF) drawn = draw_regions(ctx, page);
    if (!drawn) {
        eDebug("  Nothing drawn...keep next clear time from old setting.\n");
        eDebug("  nextPageTimeout[%d] = %d\n", pageId, ctx->nextPageTimeout);
        ctx->nextPageTimeout = 0;
        eDebug("  Nothing drawn...Remove cleartime.\n");
        eDebug("  nextPageTimeout[%d] = %d\n", pageId, ctx->nextPageTimeout);
        return;
    }
    if (ctx->maxShowTime) {
        const int t = page->timeout < ctx->maxShowTime ? page->timeout : ctx->maxShowTime;
        eDebug("  nextPageTimeout[%d] = MIN(%d, %d) = %d\n", pageId, ctx->maxShowTime, page->timeout, t);
        ctx->nextPageTimeout = t;
    } else {
        ctx->nextPageTimeout = page->timeout;
        eDebug("  nextPageTimeout[%d] = %d\n", pageId, ctx->nextPageTimeout);
    }
    if (ctx->nextPageTimeout == 0) {
        // A page that names no time-out still goes away.
        ctx->nextPageTimeout = 6;
        eDebug("  nextPageTimeout[%d] = [FORCED TO MAX 6 seconds] %d\n", pageId, 6);
    }
}

void subtitle_redraw_all(subtitle_ctx* ctx) {
    if (!ctx->pages) return;
    eDebug("CLEAR\n");
    subtitle_clear_screen(ctx);
    for (subtitle_page* page = ctx->pages; page; page = page->next) subtitle_redraw(ctx, page->pageId);
}

void subtitle_clear_screen(subtitle_ctx* ctx) {
    ctx->bboxRight = kScreenWidth;
    if (ctx->bboxLeft < kScreenWidth && ctx->device && subtitle_ok_to_draw(ctx)) {
        eDebug("  BBOX clear %d:%d -> %d:%d\n", ctx->bboxLeft, ctx->bboxTop, ctx->bboxRight,
               ctx->bboxBottom);
        // The box never leaves the screen (see draw_regions), so neither does the fill.
        const int top = ctx->bboxTop < 0 ? 0 : ctx->bboxTop;
        const int bottom = ctx->bboxBottom > kScreenHeight ? kScreenHeight : ctx->bboxBottom;
        ctx->device->Lock();
        ctx->device->DrawFilledRect(0, top, kScreenWidth, bottom > top ? bottom - top : 0, 0);
        ctx->device->UnLock();
    }
    ctx->bboxLeft = kScreenWidth;
    ctx->bboxTop = kScreenHeight;
    ctx->bboxRight = 0;
    ctx->bboxBottom = 0;
}

void subtitle_screen_enable(subtitle_ctx* ctx, int on) {
    if (on == ctx->screenEnabled) return;
    ctx->screenEnabled = on;
    if (!subtitle_ok_to_draw(ctx)) return;
    if (on) {
        subtitle_redraw_all(ctx);
    } else {
        ctx->device->Lock();
        ctx->device->DrawFilledRect(0, 0, kScreenWidth, kScreenHeight, 0);
        ctx->device->UnLock();
    }
}

void subtitle_reset(subtitle_ctx* ctx) {
    while (subtitle_page* page = ctx->pages) {
        ctx->pages = page->next;
        subtitle_free_page(ctx, page);
    }
}
