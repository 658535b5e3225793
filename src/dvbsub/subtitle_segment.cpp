// Segments of a DVB subtitle PES packet (EN 300 743 §7.2): page
// composition, region composition, CLUT definition, object data and end of
// display set. Every segment is read through a reader bounded by its own
// length, which is itself checked against what is left of the packet.
#include <cstring>
#include <new>

#include "platform/Log.h"
#include "demux/ByteReader.h"
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

template <typename T>
void append(T*& head, T* item) {
    T** tail = &head;
    while (*tail) tail = &(*tail)->next;
    *tail = item;
}

int page_count(const subtitle_ctx* ctx) {
    int n = 0;
    for (const subtitle_page* p = ctx->pages; p; p = p->next) ++n;
    return n;
}

subtitle_page* new_page(subtitle_ctx* ctx, int pageId) {
    if (page_count(ctx) >= kSubtitleMaxPages) {
        eDebug("ERROR: Too many pages, page %d ignored.\n", pageId);
        return nullptr;
    }
    subtitle_page* page = new (std::nothrow) subtitle_page{pageId, 0, -1, nullptr, nullptr, nullptr, nullptr};
    if (!page) {
        eDebug("ERROR: Out of memory for page %d.\n", pageId);
        return nullptr;
    }
    append(ctx->pages, page);
    return page;
}

void process_page_composition(subtitle_ctx* ctx, subtitle_page* page, int pageId, ByteReader body) {
    const int length = int(body.Size());
    if (length < 2) {
        eDebug("%d != %d\n", 2, length);
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
            eDebug("ERROR: Out of memory for region reference %d.\n", regionId);
            continue;
        }
        *tail = ref;
        tail = &ref->next;
        ++refs;
    }
    if (length == 2 && ctx->screenEnabled) subtitle_redraw_all(ctx);
    if (count != length) eDebug("%d != %d\n", count, length);
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
        eDebug("ERROR: Region %d of %dx%d is too large, skipped.\n", region->regionId, width, height);
        return false;
    }
    if (bytes > 0) {
        region->pixels = new (std::nothrow) unsigned char[bytes];
        if (!region->pixels) {
            eDebug("ERROR: Could not allocate %ld bytes for region %d, skipped.\n", bytes,
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
            eDebug("ERROR: Out of memory for object %d.\n", objectId);
            continue;
        }
        *tail = object;
        tail = &object->next;
        region->objectCount++;
    }
    if (tooMany) eDebug("ERROR: Too many objects in region %d.\n", region->regionId);
    if (count != length) eDebug("ERROR: Not enough data! (%d < %d)\n", length, count);
}

void process_region_composition(subtitle_ctx* ctx, subtitle_page* page, ByteReader body) {
    if (!page) return;
    const int length = int(body.Size());
    if (length < 10) {
        eDebug("ERROR: Not enough data! (%d < %d)\n", length, 10);
        return;
    }
    const int regionId = body.U8();
    const int flags = body.U8();
    const int version = flags >> 4;
    const bool fill = flags & 0x08;
    const int width = body.U16();
    const int height = body.U16();
    const int depth = (body.U8() >> 2) & 7;
    const int clutId = body.U8();
    const int code8 = body.U8();
    const int codes = body.U8();

    subtitle_region* region = find_region(page, regionId);
    if (region && region->version == version) return;  // a repetition
    if (!region) {
        region = new (std::nothrow)
            subtitle_region{regionId, -1, 0, 0, nullptr, 0, nullptr, nullptr, 0, 0};
        if (!region) {
            eDebug("ERROR: Out of memory for region %d.\n", regionId);
            return;
        }
        append(page->regions, region);
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
    bool valid = true;
    if (depth == 1) value = (codes >> 2) & 3;
    else if (depth == 2) value = codes >> 4;
    else if (depth == 3) value = code8;
    else valid = false;
    if (!valid) eDebug("ERROR: Invalid depth for region.\n");
    // A new array always starts defined: the background when the flag asks
    // for it, else transparent 0 (also for an invalid depth).
    if (!region->pixels) {
        // an empty region: nothing to fill
    } else if (fill && valid)
        std::memset(region->pixels, value, size_t(width) * height);
    else if (clean)
        std::memset(region->pixels, 0, size_t(width) * height);
    read_placements(region, body, length);
}

void process_clut_definition(subtitle_page* page, ByteReader body) {
    if (!page) return;
    const int length = int(body.Size());
    if (length < 2) return;
    const int clutId = body.U8();
    const int version = body.U8() >> 4;
    subtitle_clut* clut = page->cluts;
    while (clut && clut->clutId != clutId) clut = clut->next;
    if (clut && clut->version == version) return;  // a repetition
    if (!clut) {
        clut = new (std::nothrow) subtitle_clut{};
        if (!clut) {
            eDebug("ERROR: Out of memory for CLUT %d.\n", clutId);
            return;
        }
        append(page->cluts, clut);
    }
    clut->clutId = clutId;
    clut->version = version;
    clut->entryCount = 0;

    int count = 2;
    while (count < length) {
        const int entryId = body.U8();
        const int flags = body.U8();
        unsigned char y, cr, cb, t;
        if (flags & 0x01) {  // full_range_flag
            y = body.U8();
            cr = body.U8();
            cb = body.U8();
            t = body.U8();
            count += 6;
        } else {
            const int v = body.U16();
            y = (v >> 10) << 2;
            cr = ((v >> 6) & 0x0F) << 4;
            cb = ((v >> 2) & 0x0F) << 4;
            t = (v & 3) << 6;
            count += 4;
        }
        if (!body.Ok()) break;
        // Only the 2- and 4-bit CLUTs are kept, and they have 16 slots: an
        // entry id beyond them has nowhere to go.
        if (!(flags & 0xC0) || entryId >= 16) continue;
        unsigned char* e = clut->entries[entryId];
        e[0] = y;
        e[1] = cr;
        e[2] = cb;
        e[3] = t;
        clut->definedMask |= 1u << entryId;
        if (clut->entryCount < 16) clut->entryCount++;
    }
}

// Decodes one field's pixel-data sub-blocks, object lines first, first+2...
int decode_field(subtitle_ctx* ctx, subtitle_page* page, int objectId, int firstLine,
                 ByteReader field) {
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
        eDebug("ERROR: object_coding_method 1 (strings?) is not implemented!\n");
        return 0;
    }
    if (method != kCodingPixels) return 0;
    int top = body.U16();
    int bottom = body.U16();
    if (!body.Ok()) return 0;
    const int room = int(body.Remaining());
    if (top + bottom > room) {
        eDebug("ERROR: Object data fields (%d + %d) run past the segment (%d).\n", top, bottom, room);
        if (top > room) top = room;
        if (bottom > room - top) bottom = room - top;
    }
    const ByteReader topField = body.Sub(size_t(top));
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
        eDebug("ERROR: Out of sync.\n");
        return -1;
    }
    const int type = in.U8();
    const int pageId = in.U16();
    const int segmentLength = in.U16();
    if (!in.Ok()) {
        eDebug("ERROR: Segment header cut short (%d bytes left).\n", length);
        return -1;
    }
    if (size_t(segmentLength) > in.Remaining()) {
        eDebug("ERROR: Segment of %d bytes runs past the packet (%d left).\n", segmentLength,
               int(in.Remaining()));
        return -1;
    }
    const ByteReader body = in.Sub(size_t(segmentLength));
    subtitle_page* page = subtitle_find_page(ctx, pageId);
    switch (type) {
    case ids::kSegPageComposition:
        process_page_composition(ctx, page, pageId, body);
        break;
    case ids::kSegRegionComposition:
        process_region_composition(ctx, page, body);
        break;
    case ids::kSegCLUTDefinition:
        process_clut_definition(page, body);
        break;
    case ids::kSegObjectData:
        if (process_object_data(ctx, page, body) < 0) return -1;
        break;
    case ids::kSegEndOfDisplaySet:
        subtitle_clear_screen(ctx);
        if (ctx->screenEnabled) subtitle_redraw_all(ctx);
        break;
    case ids::kSegStuffing:
        break;
    default:
        eDebug("ERROR: Unhandled segment type %02x\n", type);
        break;
    }
    return segmentLength + 6;
}

void subtitle_process_pes(subtitle_ctx* ctx, const unsigned char* data, int length) {
    ByteReader pes(data, length > 0 ? size_t(length) : 0);
    const int s0 = pes.PeekAt(0), s1 = pes.PeekAt(1), s2 = pes.PeekAt(2);
    if (length < 3 || s0 != 0x00 || s1 != 0x00 || s2 != 0x01) {
        eDebug("%s: invalid startcode %02x %02x %02x\n", "subtitle_process_pes", s0, s1, s2);
        return;
    }
    pes.Skip(3);
    const int streamId = pes.U8();
    if (streamId != ids::kStreamPrivate1) {
        eDebug("%s: invalid stream_id %02x\n", "subtitle_process_pes", streamId);
        return;
    }
    pes.Skip(4);  // PES_packet_length and the two flag bytes
    const int headerLength = pes.U8();
    // The bytes after data_identifier and subtitle_stream_id.
    const int remaining = length - headerLength - 11;
    if (!pes.Ok() || !pes.Skip(size_t(headerLength)) || pes.AtEnd()) {
        eDebug("ERROR: No data left (%d)\n", remaining);
        return;
    }
    const int dataIdentifier = pes.U8();
    if (dataIdentifier != ids::kDvbSubDataIdentifier) {
        eDebug("ERROR: Data identifier is 0x%02x, but not 0x20\n", dataIdentifier);
        return;
    }
    if (remaining <= 0) {
        eDebug("ERROR: No data left (%d)\n", remaining);
        return;
    }
    pes.U8();  // subtitle_stream_id
    while (pes.PeekAt(0) == ids::kDvbSubSyncByte) {
        const int used = subtitle_process_segment(ctx, pes.Current(), int(pes.Remaining()));
        if (used < 0) break;
        pes.Skip(size_t(used));
        if (pes.AtEnd()) return;
    }
    if (pes.PeekAt(0) == ids::kDvbSubEndOfPES) return;
    eDebug("ERROR: Strange data at the end\n");
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
