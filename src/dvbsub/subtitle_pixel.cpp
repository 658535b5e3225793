// Pixel-data sub-blocks of object data (EN 300 743 §7.2.5.1, coding of
// pixels): run-length code strings of 2, 4 and 8 bits per pixel, map
// tables and end-of-line codes. A line is decoded once, as codes of every
// region depth that places the object, and when finished copied into every
// such region.
#include <cstdint>
#include <cstring>

#include "platform/Log.h"
#include "dvbsub/bitstream.h"
#include "dvbsub/subtitle.h"
#include "platform/Constants.h"

namespace {

// The code a pixel of `code` from a string of `from` depth (1: 2 bit,
// 2: 4 bit, 3: 8 bit) has in a region of depth `to`. EN 300 743 §7.2.5.1:
// codes of a lower depth than the region go through the map table of the
// pair; a code of a higher depth keeps its most significant bits (the
// standard gives no rule for it; its top bits show the closest shade
// rather than nothing). That serves regions placed beside a deeper one;
// a string deeper than every region ends its field (too_deep).
inline unsigned char code_for(const subtitle_line& l, int from, int to, unsigned code) {
    if (from == to) return (unsigned char)code;
    if (from < to) {
        if (from == 1) return to == 2 ? l.map2to4[code & 3] : l.map2to8[code & 3];
        return l.map4to8[code & 15];
    }
    // Depth d holds 1 << d bits: 2, 4, 8.
    return (unsigned char)(code >> ((1 << from) - (1 << to)));
}

// Writes runs of a code string (of depth `from`) into the line of every
// region depth that places the object; what would fall beyond the widest
// such region is dropped. The line's shape is copied into locals: the
// compiler cannot tell that writing the line leaves it alone.
class Writer {
public:
    Writer(subtitle_line& l, int from, int column)
        : l_(l), from_(from), width_(l.width), column(column),
          direct_(l.depths == 1 << (from - 1) ? l.codes[from - 1] : nullptr) {}
    void Put(int count, unsigned code) {
        int n = width_ - column;
        if (count < n) n = count;
        if (n <= 0) return;
        if (direct_) {
            // The common case: every region that places the object has
            // the depth of the string. Runs are short, a few dozen codes
            // at most: pairs of words, the last into the line's slack if
            // need be, cost less than a call or a string instruction.
            const uint64_t run = uint64_t(code & 0xFF) * 0x0101010101010101ull;
            for (int k = 0; k < n; k += subtitle_line::kSlack) {
                std::memcpy(direct_ + column + k, &run, 8);
                std::memcpy(direct_ + column + k + 8, &run, 8);
            }
        } else {
            for (int d = 1; d <= 3; ++d)
                if (l_.depths & (1 << (d - 1)))
                    std::memset(l_.codes[d - 1] + column, code_for(l_, from_, d, code), size_t(n));
        }
        column += n;
    }
    bool Full() const { return column >= width_; }
    // The first `count` (at most 8) codes of eight of a 4-bit string, the
    // first in the top nibble: put at once when every region that places
    // the object is a 4-bit one and the line has room for all eight.
    bool PutNibbles(uint32_t x, int count) {
        if (!direct_ || from_ != 2 || width_ - column < 8) return false;
        uint64_t y = x;
        y = (y | (y << 16)) & 0x0000FFFF0000FFFFull;
        y = (y | (y << 8)) & 0x00FF00FF00FF00FFull;
        y = (y | (y << 4)) & 0x0F0F0F0F0F0F0F0Full;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        y = __builtin_bswap64(y);  // the first code to the first byte
#endif
        std::memcpy(direct_ + column, &y, 8);
        column += count;
        return true;
    }

private:
    subtitle_line& l_;
    const int from_;
    const int width_;

public:
    int column;

private:
    unsigned char* const direct_;
};

// 2-bit/pixel_code_string. The switches after a 00 code are read two bits
// at a time: every branch of the syntax stays on 2-bit boundaries.
bitstream decode_2bit(Writer& w, bitstream state) {
    bitstream* bs = &state;  // a copy of its own, kept in registers
    while (!bs->overrun) {
        unsigned code = bitstream_get_fixed<2>(bs);
        if (code) {
            w.Put(1, code);
            continue;
        }
        unsigned sw = bitstream_get_fixed<2>(bs);
        if (sw & 2) {  // switch_1: run_length_3-10, then the code
            int run = int(((sw & 1) << 2) | bitstream_get_fixed<2>(bs)) + 3;
            code = bitstream_get_fixed<2>(bs);
            w.Put(run, code);
        } else if (sw & 1) {  // switch_2: one pixel of code 0
            w.Put(1, 0);
        } else {
            unsigned sw3 = bitstream_get_fixed<2>(bs);
            if (sw3 == 0) return state;  // end_of_string_signal
            if (sw3 == 1) {
                w.Put(2, 0);
                continue;
            }
            int run;
            if (sw3 == 2) {
                run = int((bitstream_get_fixed<2>(bs) << 2) | bitstream_get_fixed<2>(bs)) + 12;
            } else {
                run = int(bitstream_get_fixed<2>(bs) << 6);
                run |= int(bitstream_get_fixed<2>(bs) << 4);
                run |= int(bitstream_get_fixed<2>(bs) << 2);
                run |= int(bitstream_get_fixed<2>(bs));
                run += 29;
            }
            code = bitstream_get_fixed<2>(bs);
            w.Put(run, code);
        }
    }
    return state;
}

// How many of the eight codes of x, from the top nibble, come before the
// first 0000 (which starts every other code). Bit 3 of each nibble of the
// sum is set for a non-zero nibble: 7 + 7 carries into no other nibble.
inline int leading_codes(uint32_t x) {
    const uint32_t zero = ~((((x & 0x77777777u) + 0x77777777u) | x) & 0x88888888u) & 0x88888888u;
    return zero ? __builtin_clz(zero) >> 2 : 8;
}

// 4-bit/pixel_code_string; after a 0000 code the next four bits hold
// switch_1 and, depending on it, the run length or switch_2 and switch_3.
// Every code takes at most 20 bits, so that it is read from one look at
// the next 32.
//
// Text is mostly streaks of non-zero codes, single pixels of the letters
// and their anti-aliasing shades, put together.
bitstream decode_4bit(Writer& writer, bitstream state) {
    // Copies of their own, whose addresses never leave this function: the
    // compiler keeps them in registers, where a code written to the line
    // (a char, which may alias anything in memory) cannot touch them.
    Writer w = writer;
    BitWindow bits(state.data, state.size);
    while (!bits.Overrun()) {
        const uint32_t x = bits.Peek32();
        // A code that is not 0000 is a pixel: those that follow it are
        // counted only then (every other code starts with 0000).
        if (x >> 28) {
            const int leading = leading_codes(x);
            if (leading == 1 || !w.PutNibbles(x, leading)) {
                w.Put(1, x >> 28);
                bits.Skip(4);
            } else {
                bits.Skip(4 * leading);
            }
            continue;
        }
        const unsigned v = (x >> 24) & 0xF;
        if (!(v & 8)) {
            bits.Skip(8);
            if (!(v & 7)) break;  // end_of_string_signal
            w.Put(int(v & 7) + 2, 0);
        } else if (!(v & 4)) {
            w.Put(int(v & 3) + 4, (x >> 20) & 0xF);
            bits.Skip(12);
        } else if ((v & 3) < 2) {
            w.Put(int(v & 1) + 1, 0);
            bits.Skip(8);
        } else if ((v & 3) == 2) {
            w.Put(int((x >> 20) & 0xF) + 9, (x >> 16) & 0xF);
            bits.Skip(16);
        } else {
            w.Put(int((x >> 16) & 0xFF) + 25, (x >> 12) & 0xF);
            bits.Skip(20);
        }
    }
    writer.column = w.column;
    // As bitstream would stand after the same reads.
    const size_t used = bits.Used();
    state.overrun = bits.Overrun();
    if (!state.overrun) {
        state.bytesUsed = int(used / 8);
        state.data += used / 8;
        state.bitsLeft = 8 - int(used % 8);
    }
    return state;
}

// 8-bit/pixel_code_string. Some encoders (FFmpeg's, libavcodec 59) end a
// string that fills its line with a single zero byte before the
// end-of-line code: a full line followed by 00 F0 is taken as the end of
// the string, and the F0 is left to end the line. A run could not be
// written there anyway.
bitstream decode_8bit(Writer& w, bitstream state) {
    bitstream* bs = &state;  // a copy of its own, kept in registers
    while (!bs->overrun) {
        unsigned code = bitstream_get_fixed<8>(bs);
        if (code) {
            w.Put(1, code);
            continue;
        }
        if (w.Full() && bs->bytesUsed < bs->size && *bs->data == ids::kEndOfObjectLine) return state;
        unsigned v = bitstream_get_fixed<8>(bs);
        if (!(v & 0x80)) {
            if (!v) return state;  // end_of_string_signal
            w.Put(int(v), 0);
        } else {
            code = bitstream_get_fixed<8>(bs);
            w.Put(int(v & 0x7F), code);
        }
    }
    return state;
}

// Bytes a code string occupied: the data_type byte, the bytes read and the
// partly read last byte, never more than the field held.
int string_length(const bitstream& bs, int length) {
    int used = 1 + bs.bytesUsed + (bs.bitsLeft != 8 ? 1 : 0);
    return used < length ? used : length;
}

int overrun(int length) {
    eWarning("ERROR: Pixel data runs past its field.\n");
    return length;
}

// One code string of depth `from` (its data_type byte first) from `column`
// on, through `Decode`; the bytes it occupied.
template <bitstream (*Decode)(Writer&, bitstream)>
int decode_string(subtitle_line& l, int from, int& column, const unsigned char* data, int length) {
    bitstream bs;
    bitstream_init(&bs, data + 1, length - 1);
    Writer w(l, from, column);
    bs = Decode(w, bs);
    column = w.column;
    return bs.overrun ? overrun(length) : string_length(bs, length);
}

// A string deeper than every region that places the object cannot be
// meant for them: the standard maps codes only up, from 2 to 4 and 8 bits
// and from 4 to 8. In a received stream it is the sign of lost or foreign
// bytes (a packet cut into the object's data): the line decoded so far is
// kept, and the rest of the field dropped rather than drawn as noise.
bool too_deep(const subtitle_line& l, int from) { return l.depths && l.depths < (1 << (from - 1)); }

int drop_field(subtitle_ctx* ctx, subtitle_page* page, int objectId, int line, int column, int from,
               int length) {
    subtitle_process_line(ctx, page, objectId, line, column);
    const int deepest = ctx->line.depths >= 2 ? 4 : 2;
    eWarning("ERROR: %d-bit pixel string in a %d-bit region: rest of the field dropped.\n", 1 << from, deepest);
    return length;
}

}  // namespace

void subtitle_start_object(subtitle_ctx* ctx, const subtitle_page* page, int objectId) {
    subtitle_line& l = ctx->line;
    l.depths = 0;
    l.width = 0;
    for (const subtitle_region* region = page ? page->regions : nullptr; region; region = region->next)
        for (const subtitle_object* object = region->objects; object; object = object->next) {
            if (object->objectId != objectId || object->x >= region->width) continue;
            l.depths |= 1 << (region->depth - 1);
            const int reach = region->width - object->x;
            if (reach > l.width) l.width = reach;
        }
}

void subtitle_start_field(subtitle_ctx* ctx) {
    static const subtitle_line kDefaults{};
    subtitle_line& l = ctx->line;
    std::memcpy(l.map2to4, kDefaults.map2to4, sizeof l.map2to4);
    std::memcpy(l.map2to8, kDefaults.map2to8, sizeof l.map2to8);
    std::memcpy(l.map4to8, kDefaults.map4to8, sizeof l.map4to8);
    l.invalidLogged = false;
}

int subtitle_process_pixel_data(subtitle_ctx* ctx, subtitle_page* page, int objectId, int& line,
                                int& column, const unsigned char* data, int length) {
    if (length <= 0) return -1;
    subtitle_line& l = ctx->line;
    const unsigned char* body = data + 1;
    const int bodySize = length - 1;
    switch (data[0]) {
    case ids::kPixel2BitString:
        return decode_string<decode_2bit>(l, 1, column, data, length);
    case ids::kPixel4BitString:
        if (too_deep(l, 2)) return drop_field(ctx, page, objectId, line, column, 2, length);
        return decode_string<decode_4bit>(l, 2, column, data, length);
    case ids::kPixel8BitString:
        if (too_deep(l, 3)) return drop_field(ctx, page, objectId, line, column, 3, length);
        return decode_string<decode_8bit>(l, 3, column, data, length);
    case ids::kMap2To4:
        if (bodySize < 2) return overrun(length);
        l.map2to4[0] = body[0] >> 4;
        l.map2to4[1] = body[0] & 0x0F;
        l.map2to4[2] = body[1] >> 4;
        l.map2to4[3] = body[1] & 0x0F;
        return 3;
    case ids::kMap2To8:
        if (bodySize < 4) return overrun(length);
        std::memcpy(l.map2to8, body, 4);
        return 5;
    case ids::kMap4To8:
        if (bodySize < 16) return overrun(length);
        std::memcpy(l.map4to8, body, 16);
        return 17;
    case ids::kEndOfObjectLine:
        subtitle_process_line(ctx, page, objectId, line, column);
        line += 2;  // interlaced: each field fills every other object line
        column = 0;
        return 1;
    default:
        // A byte damaged on the way: skipped, so that one bad byte does not
        // cost the whole display set (said once a field).
        if (!l.invalidLogged) eWarning("subtitle_process_pixel_data: invalid data_type %02x\n", data[0]);
        l.invalidLogged = true;
        return 1;
    }
}

void subtitle_process_line(subtitle_ctx* ctx, subtitle_page* page, int objectId, int line, int length) {
    if (!page || length <= 0) return;
    for (subtitle_region* region = page->regions; region; region = region->next) {
        const unsigned char* source = ctx->line.codes[region->depth - 1];
        for (subtitle_object* object = region->objects; object; object = object->next) {
            if (object->objectId != objectId) continue;
            const int row = object->y + line;
            int n = length;
            if (object->x + n > region->width) n = region->width - object->x;
            // A placement this line misses does not hide the region's later
            // placements of the same object.
            if (n <= 0 || row < 0 || row >= region->height) continue;
            std::memcpy(region->pixels + long(row) * region->width + object->x, source, size_t(n));
        }
    }
}
