// Screen composition of decoded pages: CLUT to display colours, region
// blits, the bounding box of what was drawn (so that exactly those rows are
// cleared), the check that nothing else occupies the screen, and the time
// a page may stay.
#include <cstdint>
#include <cstring>

#include "platform/Log.h"
#include "display/IDisplayDevice.h"
#include "dvbsub/subtitle.h"

namespace {

constexpr int kSampleColumn = 360;  // the screen centre

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
        eTrace("    Draw Region: %d\n", ref->regionId);
        subtitle_region* region = find_region(page, ref->regionId);
        if (!region) {
            eWarning("ERROR: Region not found.\n");
            continue;
        }
        // Found counts as drawn, also when the region lies off the screen.
        drawn = true;
        subtitle_draw_region(ctx, region, find_clut(page, region->clutId), ref->x, ref->y);
    }
    return drawn;
}

}  // namespace

// Slots 0-15 of a one-byte screen's colour table from the CLUT's 4-bit
// family (the default contents where the stream defined nothing, or for a
// region without a CLUT): decoded pixels are written as 0xF0 + entry.
void subtitle_set_palette(subtitle_ctx* ctx, const subtitle_clut* clut) {
    if (!ctx->device) return;
    int n = 0;
    const int* family = subtitle_clut_family(clut, 2, &n);
    for (int i = 0; i < n; ++i) ctx->device->SetRawColor(i, family[i]);
}

// Something else shows at (x, y) when the device finds another display's
// pixel there (not transparent, not one it drew). The subtitle's own rows
// are not looked at either, for a device that cannot tell.
int subtitle_is_on_collision(subtitle_ctx* ctx, int x, int y) {
    if (ctx->bboxTop <= y && y <= ctx->bboxBottom) return 0;
    return ctx->device->ShowsOther(x, y) ? 1 : 0;
}

int subtitle_ok_to_draw(subtitle_ctx* ctx) {
    if (!ctx->device) return 0;
    if (ctx->collisionDetection == 0) return 1;
    for (int y = 0; y < kScreenHeight; y += 2)
        if (subtitle_is_on_collision(ctx, kSampleColumn, y)) return 0;
    return 1;
}

void subtitle_redraw(subtitle_ctx* ctx, int pageId) {
    eTrace("  Redraw Page: %d\n", pageId);
    subtitle_page* page = subtitle_find_page(ctx, pageId);
    if (!page) return;
    bool drawn = false;
    if (page->regionRefs && page->regionRefs->regionId != 0xFFFF) drawn = draw_regions(ctx, page);
    if (!drawn) {
        eTrace("  Nothing drawn...keep next clear time from old setting.\n");
        eTrace("  nextPageTimeout[%d] = %d\n", pageId, ctx->nextPageTimeout);
        ctx->nextPageTimeout = 0;
        eTrace("  Nothing drawn...Remove cleartime.\n");
        eTrace("  nextPageTimeout[%d] = %d\n", pageId, ctx->nextPageTimeout);
        return;
    }
    if (ctx->maxShowTime) {
        const int t = page->timeout < ctx->maxShowTime ? page->timeout : ctx->maxShowTime;
        eTrace("  nextPageTimeout[%d] = MIN(%d, %d) = %d\n", pageId, ctx->maxShowTime, page->timeout, t);
        ctx->nextPageTimeout = t;
    } else {
        ctx->nextPageTimeout = page->timeout;
        eTrace("  nextPageTimeout[%d] = %d\n", pageId, ctx->nextPageTimeout);
    }
    if (ctx->nextPageTimeout == 0) {
        // A page that names no time-out still goes away.
        ctx->nextPageTimeout = 6;
        eTrace("  nextPageTimeout[%d] = [FORCED TO MAX 6 seconds] %d\n", pageId, 6);
    }
}

namespace {

// One page change is one lock span, so that it reaches the screen whole
// with one blit: the clear and every region of every page together.
struct DeviceSpan {
    explicit DeviceSpan(subtitle_ctx* c) : ctx(c) {
        if (ctx->device) ctx->device->Lock();
    }
    ~DeviceSpan() {
        if (ctx->device) ctx->device->UnLock();
    }
    subtitle_ctx* ctx;
};

void clear_locked(subtitle_ctx* ctx) {
    ctx->bboxRight = kScreenWidth;
    if (ctx->bboxLeft < kScreenWidth && ctx->device && subtitle_ok_to_draw(ctx)) {
        eTrace("  BBOX clear %d:%d -> %d:%d\n", ctx->bboxLeft, ctx->bboxTop, ctx->bboxRight,
               ctx->bboxBottom);
        // The box never leaves the screen (see draw_regions), so neither does the fill.
        const int top = ctx->bboxTop < 0 ? 0 : ctx->bboxTop;
        const int bottom = ctx->bboxBottom > kScreenHeight ? kScreenHeight : ctx->bboxBottom;
        ctx->device->DrawFilledRect(0, top, kScreenWidth, bottom > top ? bottom - top : 0, 0);
    }
    ctx->bboxLeft = kScreenWidth;
    ctx->bboxTop = kScreenHeight;
    ctx->bboxRight = 0;
    ctx->bboxBottom = 0;
}

void redraw_locked(subtitle_ctx* ctx) {
    eTrace("CLEAR\n");
    clear_locked(ctx);
    for (subtitle_page* page = ctx->pages; page; page = page->next) subtitle_redraw(ctx, page->pageId);
}

}  // namespace

void subtitle_redraw_all(subtitle_ctx* ctx) {
    if (!ctx->pages) return;
    DeviceSpan span(ctx);
    redraw_locked(ctx);
}

// Nothing drawn, nothing to clear: no update (a blit may cost the driver a
// copy of the whole screen).
void subtitle_clear_screen(subtitle_ctx* ctx) {
    if (ctx->bboxLeft >= kScreenWidth) return clear_locked(ctx);
    DeviceSpan span(ctx);
    clear_locked(ctx);
}

void subtitle_show(subtitle_ctx* ctx) {
    bool draw = false;
    for (const subtitle_page* page = ctx->pages; page && ctx->screenEnabled; page = page->next)
        draw = draw || page->regionRefs;
    if (!draw) return subtitle_clear_screen(ctx);
    DeviceSpan span(ctx);
    redraw_locked(ctx);
}

void subtitle_screen_enable(subtitle_ctx* ctx, int on) {
    if (on == ctx->screenEnabled) return;
    ctx->screenEnabled = on;
    if (!subtitle_ok_to_draw(ctx)) return;
    if (on) {
        subtitle_redraw_all(ctx);
    } else {
        DeviceSpan span(ctx);
        ctx->device->DrawFilledRect(0, 0, kScreenWidth, kScreenHeight, 0);
    }
}

void subtitle_reset(subtitle_ctx* ctx) {
    while (subtitle_page* page = ctx->pages) {
        ctx->pages = page->next;
        subtitle_free_page(ctx, page);
    }
    delete[] ctx->image;
    ctx->image = nullptr;
    ctx->imageBytes = 0;
    // A new stream starts without a display definition and looks for its
    // composition page afresh.
    ctx->display = subtitle_display();
    ctx->otherPageId = -1;
    ctx->otherDisplaySets = 0;
    ctx->compositionSeen = false;
}
