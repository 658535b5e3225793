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

#include <cstdint>

class IDisplayDevice;

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
    unsigned char* pixels;  // width x height, row after row; null when empty
    int clutId;
    subtitle_object* objects;
    subtitle_region* next;
    // region_depth (1: 2 bit, 2: 4 bit, 3: 8 bit), compared on a new
    // version to decide whether the pixel array can be kept.
    int depth;
    int objectCount;
};

// Entries in the order Y, Cr, Cb, T, each scaled to 8 bits.
struct subtitle_clut {
    int clutId;
    int entryCount;
    unsigned char entries[16][4];
    int version;
    subtitle_clut* next;
    // Slots ever stored (bit i: entries[i]). A new version modifies the
    // CLUT; the entries it does not repeat keep their colours.
    unsigned definedMask;
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

struct subtitle_ctx {
    subtitle_page* pages = nullptr;
    int screenEnabled = 0;
    IDisplayDevice* device = nullptr;
    int bboxLeft = 720;
    int bboxTop = 576;
    int bboxRight = 0;
    int bboxBottom = 0;
    int nextPageTimeout = 0;
    int maxShowTime = 0;
    // Bytes held by region pixel arrays, kept under kSubtitleMaxPixelBytes.
    long pixelBytes = 0;
};

// Limits on what a stream can make the decoder hold. A full HD region
// (1920 x 1080, the largest display EN 300 743 streams announce in practice)
// still fits; a 65535 x 65535 region does not.
constexpr int kSubtitleMaxRegionWidth = 1920;
constexpr int kSubtitleMaxRegionHeight = 1080;
constexpr long kSubtitleMaxPixelBytes = 4L * 1024 * 1024;
constexpr int kSubtitleMaxPages = 16;
constexpr int kSubtitleMaxRegionRefs = 256;
constexpr int kSubtitleMaxObjectsPerRegion = 64;

// Segment decoder (subtitle_segment.cpp).
// `data` is a whole PES packet, from its start code, `length` bytes.
void subtitle_process_pes(subtitle_ctx* ctx, const unsigned char* data, int length);
// `segment` points at a sync byte with `length` bytes behind it (counting
// the sync byte). Returns segment_length + 6, or -1 when the segment cannot
// be processed (bad sync byte, a segment longer than what is left, a
// pixel-data error).
int subtitle_process_segment(subtitle_ctx* ctx, const unsigned char* segment, int length);
subtitle_page* subtitle_find_page(subtitle_ctx* ctx, int pageId);

// Pixel data (subtitle_pixel.cpp). `data` points at a data_type byte with
// `length` bytes of the field behind it (counting the data_type byte).
// Returns the bytes the sub-block occupies (at most `length`), or -1 for an
// invalid data type.
int subtitle_process_pixel_data(subtitle_ctx* ctx, subtitle_page* page, int objectId, int& line,
                                int& column, const unsigned char* data, int length);
// Copies `length` pixel values into every region of `page` that places the object.
void subtitle_process_line(subtitle_ctx* ctx, subtitle_page* page, int objectId, int line,
                           const unsigned char* source, int length);

// Screen composition (subtitle_screen.cpp).
void subtitle_set_palette(subtitle_ctx* ctx, const subtitle_clut* clut);
int subtitle_is_on_collision(subtitle_ctx* ctx, int x, int y);
int subtitle_ok_to_draw(subtitle_ctx* ctx);
void subtitle_redraw(subtitle_ctx* ctx, int pageId);
void subtitle_redraw_all(subtitle_ctx* ctx);
void subtitle_clear_screen(subtitle_ctx* ctx);
void subtitle_screen_enable(subtitle_ctx* ctx, int on);
void subtitle_reset(subtitle_ctx* ctx);
// The 0xRRGGBBAA colour of a CLUT entry (Y, Cr, Cb, T), BT.709 integer form.
int subtitle_entry_color(const unsigned char* entry);
// The default colour of slot 0-15 when a region names no defined CLUT.
int subtitle_default_color(int slot);

// Record management shared by the segment decoder and the reset.
void subtitle_free_page(subtitle_ctx* ctx, subtitle_page* page);
void subtitle_free_regions(subtitle_ctx* ctx, subtitle_region* region);
