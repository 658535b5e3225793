// Decoded pages handed over for the screen: at the end of a display set,
// every page's regions that are found, as page values with their colours
// resolved through their CLUTs, and the time the page may stay.
#include <cstdint>
#include <cstring>

#include "platform/ByteReader.h"
#include "platform/Log.h"
#include "dvbsub/subtitle.h"

namespace {

constexpr int kForcedTimeout = 6;  // seconds a page that names no time-out stays

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

// The colours of the region's CLUT family as the page value carries them
// (subtitle_clut.cpp keeps them with each entry), entries past the
// family's zero; and the 4-bit family for the box's palette.
void resolve_colours(const subtitle_region* region, const subtitle_clut* clut, pages::DvbRegion& out) {
    int n = 0;
    subtitle_clut_family(clut, region->depth, &n);
    const size_t entries = size_t(n);
    std::memcpy(out.argb, subtitle_clut_argb(clut, region->depth), entries * sizeof out.argb[0]);
    std::memset(out.argb + entries, 0, (256 - entries) * sizeof out.argb[0]);
    std::memcpy(out.index, subtitle_clut_index(clut, region->depth), entries);
    std::memset(out.index + entries, 0, 256 - entries);
    out.entries = n;
    const int* four = subtitle_clut_family(clut, 2, &n);
    std::memcpy(out.palette, four, sizeof out.palette);
}

// Adds the page's regions to the value; true when any region was found
// (drawn or not).
bool add_regions(subtitle_ctx* ctx, subtitle_page* page, pages::DvbPage& out) {
    bool found = false;
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
        found = true;
        out.regions.emplace_back();
        pages::DvbRegion& r = out.regions.back();
        r.id = region->regionId;
        r.x = long(ctx->display.windowX) + ref->x;
        r.y = long(ctx->display.windowY) + ref->y;
        r.width = region->width;
        r.height = region->height;
        r.codes = region->pixels;
        resolve_colours(region, find_clut(page, region->clutId), r);
    }
    return found;
}

// The page's time-out, bounded by the configured most.
void set_timeout(subtitle_ctx* ctx, const subtitle_page* page) {
    const int pageId = page->pageId;
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
        ctx->nextPageTimeout = kForcedTimeout;
        eTrace("  nextPageTimeout[%d] = [FORCED TO MAX 6 seconds] %d\n", pageId, kForcedTimeout);
    }
}

}  // namespace

void subtitle_redraw(subtitle_ctx* ctx, subtitle_page* page, pages::DvbPage& out) {
    eTrace("  Redraw Page: %d\n", page->pageId);
    bool found = false;
    if (page->regionRefs && page->regionRefs->regionId != 0xFFFF) found = add_regions(ctx, page, out);
    if (!found) {
        eTrace("  Nothing drawn...keep next clear time from old setting.\n");
        eTrace("  nextPageTimeout[%d] = %d\n", page->pageId, ctx->nextPageTimeout);
        ctx->nextPageTimeout = 0;
        eTrace("  Nothing drawn...Remove cleartime.\n");
        eTrace("  nextPageTimeout[%d] = %d\n", page->pageId, ctx->nextPageTimeout);
        return;
    }
    set_timeout(ctx, page);
}

void subtitle_clear_screen(subtitle_ctx* ctx) {
    if (ctx->sink) ctx->sink->ClearDvb();
}

void subtitle_show(subtitle_ctx* ctx) {
    pages::DvbPage& out = ctx->shown;
    out.regions.clear();
    out.displayWidth = ctx->display.width;
    out.displayHeight = ctx->display.height;
    if (ctx->screenEnabled)
        for (subtitle_page* page = ctx->pages; page; page = page->next) subtitle_redraw(ctx, page, out);
    if (ctx->sink) ctx->sink->ShowDvb(out);
}

void subtitle_screen_enable(subtitle_ctx* ctx, int on) {
    if (on == ctx->screenEnabled) return;
    ctx->screenEnabled = on;
    if (on)
        subtitle_show(ctx);
    else
        subtitle_clear_screen(ctx);
}

void subtitle_reset(subtitle_ctx* ctx) {
    while (subtitle_page* page = ctx->pages) {
        ctx->pages = page->next;
        subtitle_free_page(ctx, page);
    }
    ctx->shown.regions.clear();
    // A new stream starts without a display definition and looks for its
    // composition page afresh.
    ctx->display = subtitle_display();
    ctx->otherPageId = -1;
    ctx->otherDisplaySets = 0;
    ctx->compositionSeen = false;
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
