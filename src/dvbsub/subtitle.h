// The DVB subtitle decoder (ETSI EN 300 743): plain functions over one
// context record. Segments update page, region and CLUT records kept in
// singly linked lists that the decoder owns and frees; object pixel data is
// decoded straight into the pixel arrays of the regions that place the
// object; an end of display set puts the pages on the screen.
//
// Everything read from the stream is bounded: segments never read past the
// packet, pixel data never past its field, and the memory a stream can make
// the decoder hold is capped (see the limits below).
#pragma once

#include <cstddef>
#include <cstdint>

#include "pages/Page.h"

// One region reference of a page composition: where the region goes.
struct subtitle_region_ref {
    int regionId;
    int x;
    int y;
    subtitle_region_ref* next;
};

// One object placement of a region composition. Objects themselves are not
// stored: their data is decoded into every region that places them.
struct subtitle_object {
    int objectId;
    int objectType;
    int providerFlag;
    int x;
    int y;
    int foregroundCode;
    int backgroundCode;
    subtitle_object* next;
};

struct subtitle_region {
    int regionId;
    int version;
    int height;
    int width;
    // width x height pixel codes of the region's depth (0-3, 0-15 or
    // 0-255), row after row; null when empty. Colours are looked up only
    // when the region is drawn, in the CLUT family of its depth.
    unsigned char* pixels;
    int clutId;
    subtitle_object* objects;
    subtitle_region* next;
    // region_depth (1: 2 bit, 2: 4 bit, 3: 8 bit; an invalid depth is
    // treated as 4 bit), also compared on a new version to decide whether
    // the pixel array can be kept.
    int depth;
    int objectCount;
};

// EN 300 743 §7.2.4: a CLUT holds three families, for 2-, 4- and 8-bit
// regions, each entry a 0xRRGGBBAA colour. An entry the stream has not
// defined keeps the default contents of §10.
struct subtitle_clut {
    int clutId;
    int version;
    subtitle_clut* next;
    int colours2[4];
    int colours4[16];
    int colours8[256];
    // The same entries as a page value carries them (pages::DvbRegion):
    // 0xAARRGGBB, and the nearest default palette index, set with each
    // entry, so that handing a page over copies them instead of searching
    // the palette for 256 colours at every display set.
    uint32_t argb2[4], argb4[16], argb8[256];
    uint8_t index2[4], index4[16], index8[256];
};

struct subtitle_page {
    int pageId;
    int timeout;
    int version;
    subtitle_region_ref* regionRefs;
    subtitle_region* regions;
    subtitle_clut* cluts;
    subtitle_page* next;
};

// Object lines are decoded once and copied into every region that places
// the object: no region is wider than this.
constexpr int kSubtitleMaxRegionWidth = 1920;
constexpr int kSubtitleMaxRegionHeight = 1080;
// EN 300 743 §7.2.1 display definitions beyond full HD are refused.
constexpr int kSubtitleMaxDisplayWidth = 1920;
constexpr int kSubtitleMaxDisplayHeight = 1080;

// The display that a page is composed for (EN 300 743 §7.2.1) and where
// its window lies; 720 x 576 without window when none was received.
struct subtitle_display {
    int width = 720;
    int height = 576;
    int version = -1;
    int windowX = 0;
    int windowY = 0;
};

// The line being decoded: pixel codes for each region depth that places
// the object (index 0: 2 bit, 1: 4 bit, 2: 8 bit), the map tables in force
// (EN 300 743 §10.4-10.6, back to their defaults at each field), the next
// column, and which of the three lines any region wants.
struct subtitle_line {
    // Room past the widest region for a short run written as two words
    // (subtitle_pixel.cpp): what lies past the line is never copied.
    static constexpr int kSlack = 16;
    unsigned char codes[3][kSubtitleMaxRegionWidth + kSlack];
    unsigned char map2to4[4] = {0, 7, 8, 15};
    unsigned char map2to8[4] = {0x00, 0x77, 0x88, 0xFF};
    unsigned char map4to8[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    int depths = 0;  // bit d - 1 set: some region of depth d places the object
    // The widest region that places the object: columns past it reach no
    // region and are not written.
    int width = 0;
    bool invalidLogged = false;  // an invalid data_type was said in this field
};

struct subtitle_ctx {
    subtitle_page* pages = nullptr;
    int screenEnabled = 0;
    // Where completed display sets go; null: nowhere.
    pages::PageSink* sink = nullptr;
    int nextPageTimeout = 0;
    int maxShowTime = 0;
    // Bytes held by region pixel arrays, kept under kSubtitleMaxPixelBytes.
    long pixelBytes = 0;
    // The pages to decode (EN 300 743 §3.1: composition and ancillary
    // page); -1 decodes every page of the PID.
    int compositionPageId = -1;
    int ancillaryPageId = -1;
    // While the composition page has not shown up: the one other page
    // seen (-1 none yet, -2 several) and its completed display sets.
    int otherPageId = -1;
    int otherDisplaySets = 0;
    bool compositionSeen = false;
    bool fallbackLogged = false;
    // The kinds of segment of the shown page met in the current packet
    // (kSeenPage ...).
    int segmentsSeen = 0;
    subtitle_display display;
    subtitle_line line;
    // The page value of the last display set, kept for its room.
    pages::DvbPage shown;
};

constexpr int kSeenPage = 1, kSeenRegion = 2, kSeenClut = 4, kSeenObject = 8, kSeenEnd = 16;

// Limits on what a stream can make the decoder hold. A full HD region
// still fits; a 65535 x 65535 region does not.
constexpr long kSubtitleMaxPixelBytes = 4L * 1024 * 1024;
constexpr int kSubtitleMaxPages = 16;
constexpr int kSubtitleMaxRegionRefs = 256;
constexpr int kSubtitleMaxObjectsPerRegion = 64;

// Appends `item` to the singly linked list at `head` (pages, regions,
// objects, CLUTs keep the order they were received in).
template <typename T>
void subtitle_append(T*& head, T* item) {
    T** tail = &head;
    while (*tail) tail = &(*tail)->next;
    *tail = item;
}

// Segment decoder (subtitle_segment.cpp).
// `data` is a whole PES packet, from its start code, `length` bytes.
void subtitle_process_pes(subtitle_ctx* ctx, const unsigned char* data, int length);
// `segment` points at a sync byte with `length` bytes behind it (counting
// the sync byte). Returns segment_length + 6, or -1 when the segment cannot
// be processed (bad sync byte, a segment longer than what is left, a
// pixel-data error).
int subtitle_process_segment(subtitle_ctx* ctx, const unsigned char* segment, int length);
subtitle_page* subtitle_find_page(subtitle_ctx* ctx, int pageId);
// The page a segment of `type` on `pageId` is decoded as, or -1 when it is
// skipped (subtitle_pes.cpp).
int subtitle_route_page(subtitle_ctx* ctx, int type, int pageId);

// Pixel data (subtitle_pixel.cpp). Before an object's fields are decoded,
// subtitle_start_object notes the depths and width of the regions of `page`
// that place it; subtitle_start_field puts the map tables back to their
// defaults (a received map table holds to the end of its pixel-data
// sub-block, EN 300 743 §7.2.5.1: the field).
void subtitle_start_object(subtitle_ctx* ctx, const subtitle_page* page, int objectId);
void subtitle_start_field(subtitle_ctx* ctx);
// `data` points at a data_type byte with `length` bytes of the field behind
// it (counting the data_type byte). Returns the bytes the sub-block
// occupies (at most `length`; 1 for an invalid data type, which is
// skipped), or -1 when `length` is not positive.
int subtitle_process_pixel_data(subtitle_ctx* ctx, subtitle_page* page, int objectId, int& line,
                                int& column, const unsigned char* data, int length);
// Copies the first `length` codes of the decoded line into every region of
// `page` that places the object, each region from the line of its depth.
void subtitle_process_line(subtitle_ctx* ctx, subtitle_page* page, int objectId, int line, int length);

// CLUTs (subtitle_clut.cpp).
// A CLUT definition segment body for `page` (EN 300 743 §7.2.4).
void subtitle_process_clut(subtitle_page* page, const unsigned char* body, int length);
// The CLUT of the default contents (EN 300 743 §10), used by regions whose
// CLUT was never defined, and the start of every defined one.
const subtitle_clut* subtitle_default_clut();
// The family of a region depth (1, 2 or 3) and its number of entries.
const int* subtitle_clut_family(const subtitle_clut* clut, int depth, int* entries);
// The same family's 0xAARRGGBB colours and palette indexes.
const uint32_t* subtitle_clut_argb(const subtitle_clut* clut, int depth);
const uint8_t* subtitle_clut_index(const subtitle_clut* clut, int depth);
// The 4-bit default-CLUT entry (1-15) nearest in colour to an opaque or
// translucent 0xRRGGBBAA colour; 0 for a transparent one.
int subtitle_nearest_default4(int colour);
// The same by colour alone (1-15), whatever the colour's alpha.
int subtitle_nearest_default4_rgb(int colour);

// Pages handed over (subtitle_present.cpp).
// Adds one page's found regions to `out`, and sets the time-out.
void subtitle_redraw(subtitle_ctx* ctx, subtitle_page* page, pages::DvbPage& out);
void subtitle_clear_screen(subtitle_ctx* ctx);
// A display set complete: every page's regions, handed over as one page,
// which replaces what shows.
void subtitle_show(subtitle_ctx* ctx);
void subtitle_screen_enable(subtitle_ctx* ctx, int on);
void subtitle_reset(subtitle_ctx* ctx);
// The display definition segment body (EN 300 743 §7.2.1).
void subtitle_process_display_definition(subtitle_ctx* ctx, const unsigned char* body, int length);
// The 0xRRGGBBAA colour of a CLUT entry (Y, Cr, Cb, T), BT.709 integer form.
int subtitle_entry_color(const unsigned char* entry);
// The default colour of 4-bit entry 0-15 (EN 300 743 §10.2).
int subtitle_default_color(int slot);

// Record management shared by the segment decoder and the reset.
void subtitle_free_page(subtitle_ctx* ctx, subtitle_page* page);
void subtitle_free_regions(subtitle_ctx* ctx, subtitle_region* region);
