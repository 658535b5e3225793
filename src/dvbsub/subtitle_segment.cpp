// Segments of a DVB subtitle PES packet (EN 300 743 §7.2): page
// composition, region composition, CLUT definition, object data and end of
// display set. Every segment is read through a reader bounded by its own
// length, which is itself checked against what is left of the packet.
#include <cstring>
#include <new>

#include "platform/Log.h"
#include "platform/ByteReader.h"
#include "dvbsub/subtitle.h"
#include "platform/Constants.h"

namespace {

// EN 300 743 §7.2.2 page_state.
constexpr int kPageStateAcquisitionPoint = 1;
constexpr int kPageStateModeChange = 2;
// EN 300 743 §7.2.5 object_coding_method.
constexpr int kCodingPixels = 0;
constexpr int kCodingCharacters = 1;

void free_refs(subtitle_page* page) {
    while (subtitle_region_ref* ref = page->regionRefs) {
        page->regionRefs = ref->next;
        delete ref;
    }
}

void free_objects(subtitle_region* region) {
    while (subtitle_object* object = region->objects) {
        region->objects = object->next;
        delete object;
    }
    region->objectCount = 0;
}

void free_pixels(subtitle_ctx* ctx, subtitle_region* region) {
    if (region->pixels) ctx->pixelBytes -= long(region->width) * region->height;
    delete[] region->pixels;
    region->pixels = nullptr;
}

void free_cluts(subtitle_page* page) {
    while (subtitle_clut* clut = page->cluts) {
        page->cluts = clut->next;
        delete clut;
    }
}

int page_count(const subtitle_ctx* ctx) {
    int n = 0;
    for (const subtitle_page* p = ctx->pages; p; p = p->next) ++n;
    return n;
}

subtitle_page* new_page(subtitle_ctx* ctx, int pageId) {
    if (page_count(ctx) >= kSubtitleMaxPages) {
        eWarning("ERROR: Too many pages, page %d ignored.\n", pageId);
        return nullptr;
    }
    subtitle_page* page = new (std::nothrow) subtitle_page{pageId, 0, -1, nullptr, nullptr, nullptr, nullptr};
    if (!page) {
        eWarning("ERROR: Out of memory for page %d.\n", pageId);
        return nullptr;
    }
    subtitle_append(ctx->pages, page);
    return page;
}

void process_page_composition(subtitle_ctx* ctx, subtitle_page* page, int pageId, ByteReader body) {
    const int length = int(body.Size());
    if (length < 2) {
        eWarning("%d != %d\n", 2, length);
        return;
    }
    const int timeout = body.U8();
    const int flags = body.U8();
    const int version = flags >> 4;
    const int state = (flags >> 2) & 3;
    if (!page) {
        page = new_page(ctx, pageId);
        if (!page) return;
    } else if (page->version == version) {
        return;  // a repetition
    }
    if (state == kPageStateAcquisitionPoint || state == kPageStateModeChange) {
        free_refs(page);
        subtitle_free_regions(ctx, page->regions);
        page->regions = nullptr;
    }
    // EN 300 743 §5.1.3: a mode change starts a new epoch, whose CLUTs
    // start from the default contents and whose version numbers start
    // anew: a CLUT of the old epoch with the same version is not a
    // repetition. At an acquisition point the CLUTs are sent again and
    // read again; entries they do not repeat keep their colours.
    if (state == kPageStateModeChange) free_cluts(page);
    if (state == kPageStateAcquisitionPoint)
        for (subtitle_clut* clut = page->cluts; clut; clut = clut->next) clut->version = -1;
    page->timeout = timeout;
    page->version = version;
    free_refs(page);

    int count = 2;
    int refs = 0;
    subtitle_region_ref** tail = &page->regionRefs;
    while (count < length) {
        count += 6;
        if (!body.Has(6)) break;
        const int regionId = body.U8();
        body.U8();  // reserved
        const int x = body.U16();
        const int y = body.U16();
        if (refs >= kSubtitleMaxRegionRefs) continue;
        subtitle_region_ref* ref = new (std::nothrow) subtitle_region_ref{regionId, x, y, nullptr};
        if (!ref) {
            eWarning("ERROR: Out of memory for region reference %d.\n", regionId);
            continue;
        }
        *tail = ref;
        tail = &ref->next;
        ++refs;
    }
    if (length == 2 && ctx->screenEnabled) subtitle_show(ctx);
    if (count != length) eWarning("%d != %d\n", count, length);
}

subtitle_region* find_region(subtitle_page* page, int regionId) {
    for (subtitle_region* r = page->regions; r; r = r->next)
        if (r->regionId == regionId) return r;
    return nullptr;
}

// Takes a region out of its page and frees it.
void drop_region(subtitle_ctx* ctx, subtitle_page* page, subtitle_region* region) {
    for (subtitle_region** link = &page->regions; *link; link = &(*link)->next) {
        if (*link == region) {
            *link = region->next;
            region->next = nullptr;
            subtitle_free_regions(ctx, region);
            return;
        }
    }
}

// Gives the region a pixel array of width x height, within the decoder's
// memory bound. False (with a message) when it cannot.
bool allocate_pixels(subtitle_ctx* ctx, subtitle_region* region, int width, int height) {
    free_pixels(ctx, region);
    region->width = 0;
    region->height = 0;
    const long bytes = long(width) * height;
    if (width > kSubtitleMaxRegionWidth || height > kSubtitleMaxRegionHeight ||
        ctx->pixelBytes + bytes > kSubtitleMaxPixelBytes) {
        eWarning("ERROR: Region %d of %dx%d is too large, skipped.\n", region->regionId, width, height);
        return false;
    }
    if (bytes > 0) {
        region->pixels = new (std::nothrow) unsigned char[bytes];
        if (!region->pixels) {
            eWarning("ERROR: Could not allocate %ld bytes for region %d, skipped.\n", bytes,
                   region->regionId);
            return false;
        }
    }
    ctx->pixelBytes += bytes;
    region->width = width;
    region->height = height;
    return true;
}

void read_placements(subtitle_region* region, ByteReader& body, int length) {
    int count = 10;
    subtitle_object** tail = &region->objects;
    bool tooMany = false;
    while (count < length) {
        const int objectId = body.U16();
        const int b2 = body.U8();
        const int xLow = body.U8();
        const int y = body.U16() & 0x0FFF;
        const int type = b2 >> 6;
        const bool codes = type == 1 || type == 2;
        count += codes ? 8 : 6;
        const int fg = codes ? body.U8() : 0;
        const int bg = codes ? body.U8() : 0;
        if (!body.Ok()) break;
        if (region->objectCount >= kSubtitleMaxObjectsPerRegion) {
            tooMany = true;
            continue;
        }
        subtitle_object* object = new (std::nothrow)
            subtitle_object{objectId, type, (b2 >> 4) & 3, ((b2 & 0x0F) << 8) | xLow, y, fg, bg, nullptr};
        if (!object) {
            eWarning("ERROR: Out of memory for object %d.\n", objectId);
            continue;
        }
        *tail = object;
        tail = &object->next;
        region->objectCount++;
    }
    if (tooMany) eWarning("ERROR: Too many objects in region %d.\n", region->regionId);
    if (count != length) eWarning("ERROR: Not enough data! (%d < %d)\n", length, count);
}

void process_region_composition(subtitle_ctx* ctx, subtitle_page* page, ByteReader body) {
    if (!page) return;
    const int length = int(body.Size());
    if (length < 10) {
        eWarning("ERROR: Not enough data! (%d < %d)\n", length, 10);
        return;
    }
    const int regionId = body.U8();
    const int flags = body.U8();
    const int version = flags >> 4;
    const bool fill = flags & 0x08;
    const int width = body.U16();
    const int height = body.U16();
    const int rawDepth = (body.U8() >> 2) & 7;
    const bool validDepth = rawDepth >= 1 && rawDepth <= 3;
    // An invalid depth is logged and the region kept as a 4-bit one.
    const int depth = validDepth ? rawDepth : 2;
    const int clutId = body.U8();
    const int code8 = body.U8();
    const int codes = body.U8();

    subtitle_region* region = find_region(page, regionId);
    if (region && region->version == version) return;  // a repetition
    if (!region) {
        region = new (std::nothrow)
            subtitle_region{regionId, -1, 0, 0, nullptr, 0, nullptr, nullptr, 0, 0};
        if (!region) {
            eWarning("ERROR: Out of memory for region %d.\n", regionId);
            return;
        }
        subtitle_append(page->regions, region);
    }
    free_objects(region);
    // EN 300 743 §7.2.3: without the fill flag a new version keeps the
    // region's content (live roll-up sends only the new words), so the
    // array is kept as long as its shape is unchanged.
    const bool keep = region->version >= 0 && region->width == width &&
                      region->height == height && region->depth == depth;
    bool clean = false;
    if (!keep) {
        if (!allocate_pixels(ctx, region, width, height)) {
            drop_region(ctx, page, region);
            return;
        }
        clean = true;
    }
    region->version = version;
    region->depth = depth;
    region->clutId = clutId;

    int value = 0;
    if (depth == 1) value = (codes >> 2) & 3;
    else if (depth == 2) value = codes >> 4;
    else value = code8;
    if (!validDepth) eWarning("ERROR: Invalid depth for region.\n");
    // A new array always starts defined: the background code of the
    // region's depth when the flag asks for it, else code 0 (also for an
    // invalid depth).
    if (!region->pixels) {
        // an empty region: nothing to fill
    } else if (fill && validDepth)
        std::memset(region->pixels, value, size_t(width) * height);
    else if (clean)
        std::memset(region->pixels, 0, size_t(width) * height);
    read_placements(region, body, length);
}

// Decodes one field's pixel-data sub-blocks, object lines first, first+2...
int decode_field(subtitle_ctx* ctx, subtitle_page* page, int objectId, int firstLine,
                 ByteReader field) {
    subtitle_start_field(ctx);
    int line = firstLine;
    int column = 0;
    while (!field.AtEnd()) {
        const int used = subtitle_process_pixel_data(ctx, page, objectId, line, column,
                                                     field.Current(), int(field.Remaining()));
        if (used < 0) return -1;
        field.Skip(size_t(used));
    }
    return 0;
}

int process_object_data(subtitle_ctx* ctx, subtitle_page* page, ByteReader body) {
    if (!page) return 0;
    const int objectId = body.U16();
    const int method = (body.U8() >> 2) & 3;
    if (!body.Ok()) return 0;
    if (method == kCodingCharacters) {
        eWarning("ERROR: object_coding_method 1 (strings?) is not implemented!\n");
        return 0;
    }
    if (method != kCodingPixels) return 0;
    int top = body.U16();
    int bottom = body.U16();
    if (!body.Ok()) return 0;
    const int room = int(body.Remaining());
    if (top + bottom > room) {
        eWarning("ERROR: Object data fields (%d + %d) run past the segment (%d).\n", top, bottom, room);
        if (top > room) top = room;
        if (bottom > room - top) bottom = room - top;
    }
    const ByteReader topField = body.Sub(size_t(top));
    subtitle_start_object(ctx, page, objectId);
    if (decode_field(ctx, page, objectId, 0, topField) < 0) return -1;
    // EN 300 743 §7.2.5: a bottom field length of 0 means the top field's
    // data serves the bottom field too; the odd lines are not left empty.
    const ByteReader bottomField = bottom ? body.Sub(size_t(bottom)) : topField;
    return decode_field(ctx, page, objectId, 1, bottomField);
}

}  // namespace

subtitle_page* subtitle_find_page(subtitle_ctx* ctx, int pageId) {
    for (subtitle_page* page = ctx->pages; page; page = page->next)
        if (page->pageId == pageId) return page;
    return nullptr;
}

int subtitle_process_segment(subtitle_ctx* ctx, const unsigned char* segment, int length) {
    ByteReader in(segment, length > 0 ? size_t(length) : 0);
    if (in.U8() != ids::kDvbSubSyncByte) {
        eWarning("ERROR: Out of sync.\n");
        return -1;
    }
    const int type = in.U8();
    const int pageId = in.U16();
    const int segmentLength = in.U16();
    if (!in.Ok()) {
        eWarning("ERROR: Segment header cut short (%d bytes left).\n", length);
        return -1;
    }
    if (size_t(segmentLength) > in.Remaining()) {
        eWarning("ERROR: Segment of %d bytes runs past the packet (%d left).\n", segmentLength,
               int(in.Remaining()));
        return -1;
    }
    ByteReader body = in.Sub(size_t(segmentLength));
    // Segments of pages that are not shown are skipped before anything is
    // allocated for them; the ancillary page's serve the composition page.
    const int target = subtitle_route_page(ctx, type, pageId);
    if (target < 0) return segmentLength + 6;
    subtitle_page* page = subtitle_find_page(ctx, target);
    switch (type) {
    case ids::kSegPageComposition:
        ctx->segmentsSeen |= kSeenPage;
        process_page_composition(ctx, page, target, body);
        break;
    case ids::kSegRegionComposition:
        ctx->segmentsSeen |= kSeenRegion;
        process_region_composition(ctx, page, body);
        break;
    case ids::kSegCLUTDefinition:
        ctx->segmentsSeen |= kSeenClut;
        subtitle_process_clut(page, body.Current(), segmentLength);
        break;
    case ids::kSegDisplayDefinition:
        subtitle_process_display_definition(ctx, body.Current(), segmentLength);
        break;
    case ids::kSegObjectData:
        ctx->segmentsSeen |= kSeenObject;
        if (process_object_data(ctx, page, body) < 0) return -1;
        break;
    case ids::kSegEndOfDisplaySet:
        ctx->segmentsSeen |= kSeenEnd;
        subtitle_show(ctx);
        break;
    case ids::kSegStuffing:
        break;
    default:
        eWarning("ERROR: Unhandled segment type %02x\n", type);
        break;
    }
    return segmentLength + 6;
}

// Record management --------------------------------------------------------

void subtitle_free_regions(subtitle_ctx* ctx, subtitle_region* region) {
    while (region) {
        subtitle_region* next = region->next;
        free_objects(region);
        free_pixels(ctx, region);
        delete region;
        region = next;
    }
}

void subtitle_free_page(subtitle_ctx* ctx, subtitle_page* page) {
    free_refs(page);
    subtitle_free_regions(ctx, page->regions);
    page->regions = nullptr;
    free_cluts(page);
    delete page;
}
