// Pixel-data sub-blocks of object data (EN 300 743 §7.2.5.1, coding of
// pixels): run-length code strings of 2, 4 and 8 bits per pixel, map
// tables and end-of-line codes. Decoded pixels are written as 0xF0 plus a
// 4-bit colour entry; a finished line is copied into every region that
// places the object.
#include <cstring>

#include "platform/Log.h"
#include "dvbsub/bitstream.h"
#include "dvbsub/subtitle.h"
#include "platform/Constants.h"

namespace {

constexpr int kLineWidth = 720;
constexpr unsigned char kPixelBase = 0xF0;
// The 2-bit entries are translated through this table into 4-bit entries.
// EN 300 743 §10.4 gives the default: '01' is entry 7 and '10' entry 8 (a
// table with those two swapped shows a 2-bit object's two middle colours
// the wrong way round).
constexpr unsigned char kDefaultMap2to4[4] = {0, 7, 8, 15};

// Decoder state shared by every object: only the PES delivery thread
// decodes, one sub-block at a time.
unsigned char lineBuffer[kLineWidth];
unsigned char mapTable2to4[4] = {0, 7, 8, 15};

// Writes a run of `count` pixels; what would fall at column 720 or beyond is dropped.
void put_pixels(int& column, int count, int value) {
    int n = kLineWidth - column;
    if (count < n) n = count;
    if (n <= 0) return;
    std::memset(lineBuffer + column, value, n);
    column += n;
}

// 2-bit/pixel_code_string. The switches after a 00 code are read two bits
// at a time: every branch of the syntax stays on 2-bit boundaries.
void decode_2bit(bitstream* bs, int& column) {
    while (!bs->overrun) {
        unsigned code = bitstream_get(bs);
        if (code) {
            put_pixels(column, 1, kPixelBase | mapTable2to4[code]);
            continue;
        }
        unsigned sw = bitstream_get(bs);
        if (sw & 2) {  // switch_1: run_length_3-10, then the code
            int run = int(((sw & 1) << 2) | bitstream_get(bs)) + 3;
            code = bitstream_get(bs);
            put_pixels(column, run, kPixelBase | mapTable2to4[code]);
        } else if (sw & 1) {  // switch_2: one pixel of code 0
            put_pixels(column, 1, kPixelBase | mapTable2to4[0]);
        } else {
            unsigned sw3 = bitstream_get(bs);
            if (sw3 == 0) return;  // end_of_string_signal
            if (sw3 == 1) {
                put_pixels(column, 2, kPixelBase | mapTable2to4[0]);
                continue;
            }
            int run;
            if (sw3 == 2) {
                run = int((bitstream_get(bs) << 2) | bitstream_get(bs)) + 12;
            } else {
                run = int(bitstream_get(bs) << 6);
                run |= int(bitstream_get(bs) << 4);
                run |= int(bitstream_get(bs) << 2);
                run |= int(bitstream_get(bs));
                run += 29;
            }
            code = bitstream_get(bs);
            put_pixels(column, run, kPixelBase | mapTable2to4[code]);
        }
    }
}

// 4-bit/pixel_code_string; after a 0000 code the next four bits hold
// switch_1 and, depending on it, the run length or switch_2 and switch_3.
void decode_4bit(bitstream* bs, int& column) {
    while (!bs->overrun) {
        unsigned code = bitstream_get(bs);
        if (code) {
            put_pixels(column, 1, kPixelBase | code);
            continue;
        }
        unsigned v = bitstream_get(bs);
        if (!(v & 8)) {
            if (!(v & 7)) return;  // end_of_string_signal
            put_pixels(column, int(v & 7) + 2, kPixelBase);
        } else if (!(v & 4)) {
            int run = int(v & 3) + 4;
            code = bitstream_get(bs);
            put_pixels(column, run, kPixelBase | code);
        } else {
            switch (v & 3) {
            case 0:
                put_pixels(column, 1, kPixelBase);
                break;
            case 1:
                put_pixels(column, 2, kPixelBase);
                break;
            case 2: {
                int run = int(bitstream_get(bs)) + 9;
                code = bitstream_get(bs);
                put_pixels(column, run, kPixelBase | code);
                break;
            }
            default: {
                int run = int(bitstream_get(bs) << 4);
                run |= int(bitstream_get(bs));
                run += 25;
                code = bitstream_get(bs);
                put_pixels(column, run, kPixelBase | code);
                break;
            }
            }
        }
    }
}

// 8-bit/pixel_code_string. Only the top four bits of a code are kept: the
// colour table has 16 entries.
void decode_8bit(bitstream* bs, int& column) {
    while (!bs->overrun) {
        unsigned code = bitstream_get(bs);
        if (code) {
            put_pixels(column, 1, kPixelBase | (code >> 4));
            continue;
        }
        unsigned v = bitstream_get(bs);
        if (!(v & 0x80)) {
            if (!v) return;  // end_of_string_signal
            put_pixels(column, int(v), kPixelBase);
        } else {
            code = bitstream_get(bs);
            put_pixels(column, int(v & 0x7F), kPixelBase | (code >> 4));
        }
    }
}

// Bytes a code string occupied: the data_type byte, the bytes read and the
// partly read last byte, never more than the field held.
int string_length(const bitstream& bs, int length) {
    int used = 1 + bs.bytesUsed + (bs.bitsLeft != 8 ? 1 : 0);
    return used < length ? used : length;
}

int overrun(int length) {
    eDebug("ERROR: Pixel data runs past its field.\n");
    return length;
}

}  // namespace

int subtitle_process_pixel_data(subtitle_ctx* ctx, subtitle_page* page, int objectId, int& line,
                                int& column, const unsigned char* data, int length) {
    if (length <= 0) return -1;
    const unsigned char* body = data + 1;
    const int bodySize = length - 1;
    bitstream bs;
    switch (data[0]) {
    case ids::kPixel2BitString:
        bitstream_init(&bs, body, 2, bodySize);
        decode_2bit(&bs, column);
        return bs.overrun ? overrun(length) : string_length(bs, length);
    case ids::kPixel4BitString:
        bitstream_init(&bs, body, 4, bodySize);
        decode_4bit(&bs, column);
        return bs.overrun ? overrun(length) : string_length(bs, length);
    case ids::kPixel8BitString:
        bitstream_init(&bs, body, 8, bodySize);
        decode_8bit(&bs, column);
        return bs.overrun ? overrun(length) : string_length(bs, length);
    case ids::kMap2To4:
        if (bodySize < 2) return overrun(length);
        mapTable2to4[0] = body[0] >> 4;
        mapTable2to4[1] = body[0] & 0x0F;
        mapTable2to4[2] = body[1] >> 4;
        mapTable2to4[3] = body[1] & 0x0F;
        return 3;
    case ids::kMap2To8:
        // Read and ignored: entries are always 4-bit here.
        return bodySize < 4 ? overrun(length) : 5;
    case ids::kMap4To8:
        return bodySize < 16 ? overrun(length) : 17;
    case ids::kEndOfObjectLine:
        // A received map table holds until the end of the line only.
        std::memcpy(mapTable2to4, kDefaultMap2to4, sizeof mapTable2to4);
        subtitle_process_line(ctx, page, objectId, line, lineBuffer, column);
        line += 2;  // interlaced: each field fills every other object line
        column = 0;
        return 1;
    default:
        eDebug("subtitle_process_pixel_data: invalid data_type %02x\n", data[0]);
        return -1;
    }
}

void subtitle_process_line(subtitle_ctx* ctx, subtitle_page* page, int objectId, int line,
                           const unsigned char* source, int length) {
    if (!page || length <= 0) return;
    for (subtitle_region* region = page->regions; region; region = region->next) {
        for (subtitle_object* object = region->objects; object; object = object->next) {
            if (object->objectId != objectId) continue;
            const int row = object->y + line;
            int n = length;
            if (object->x + n > region->width) n = region->width - object->x;
            // A placement this line misses does not hide the region's later
            // placements of the same object.
            if (n <= 0 || row < 0 || row >= region->height) continue;
            std::memcpy(region->pixels + long(row) * region->width + object->x, source, n);
        }
    }
}
