// CLUTs (EN 300 743 §7.2.4, §10): the three families of entries for 2-,
// 4- and 8-bit regions, their default contents, the CLUT definition
// segment, and the colour of an entry.
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/ByteReader.h"
#include "dvbsub/subtitle.h"
#include "platform/Log.h"

namespace {

int clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

int rgba(unsigned r, unsigned g, unsigned b, unsigned a) { return int(r << 24 | g << 16 | b << 8 | a); }

// EN 300 743 §10.1: transparent, white, black, grey.
int default_colour2(int entry) {
    static const int kColours[4] = {0, rgba(255, 255, 255, 255), rgba(0, 0, 0, 255), rgba(127, 127, 127, 255)};
    return kColours[entry & 3];
}

// EN 300 743 §10.3: entries 1-7 are the primaries at 75 % transparency;
// above them bits 3 and 7 pick one of four ranges, bits 0-2 and 4-6 add
// the low and high share of red, green and blue.
int default_colour8(int i) {
    if (i == 0) return 0;
    if (i < 8) return rgba(i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0, 63);
    const int bit[3] = {i & 1, i & 2, i & 4};
    const int high[3] = {i & 0x10, i & 0x20, i & 0x40};
    int c[3];
    unsigned alpha = 255;
    for (int k = 0; k < 3; ++k) {
        switch (i & 0x88) {
        case 0x00:
            c[k] = (bit[k] ? 85 : 0) + (high[k] ? 170 : 0);
            break;
        case 0x08:
            c[k] = (bit[k] ? 85 : 0) + (high[k] ? 170 : 0);
            alpha = 127;
            break;
        case 0x80:
            c[k] = 127 + (bit[k] ? 43 : 0) + (high[k] ? 85 : 0);
            break;
        default:
            c[k] = (bit[k] ? 43 : 0) + (high[k] ? 85 : 0);
            break;
        }
    }
    return rgba(unsigned(c[0]), unsigned(c[1]), unsigned(c[2]), alpha);
}

// 0xRRGGBBAA -> 0xAARRGGBB.
uint32_t argb(int colour) {
    const uint32_t c = uint32_t(colour);
    return (c >> 8) | (c << 24);
}

// Palette indexes for a box whose palette holds the 4-bit default CLUT
// (EN 300 743 §10.2) at 0xF0-0xFF: each entry as the default entry
// nearest to its colour. With the default CLUTs that is the code itself
// (2-bit codes through the 2-to-4 map of §10.4); a broadcast CLUT (a grey
// ramp for anti-aliased text, say) keeps its look instead of showing its
// codes in the default colours. 2- and 4-bit entries keep every place
// drawn: only a transparent entry gives 0xF0. 8-bit entries more than half
// transparent give 0.
// The default entries are opaque but for entry 0: a pixel more than half
// transparent is nearest to that (an anti-aliased edge would otherwise be
// drawn solid). `nearest`: subtitle_nearest_default4_rgb of the colour.
int nearest_default4(int colour, int nearest) { return (colour & 0xFF) < 0x80 ? 0 : nearest; }

uint8_t index_of(int colour, int nearest, bool eightBit) {
    if (eightBit) {
        const int entry = nearest_default4(colour, nearest);
        return uint8_t(entry ? 0xF0 | entry : 0);
    }
    return uint8_t((colour & 0xFF) == 0 ? 0xF0 : 0xF0 | nearest);
}

// One entry of a family, in each of its forms.
void put(int* colours, uint32_t* argbs, uint8_t* indexes, bool eightBit, int entry, int colour, int nearest) {
    colours[entry] = colour;
    argbs[entry] = argb(colour);
    indexes[entry] = index_of(colour, nearest, eightBit);
}

void put(int* colours, uint32_t* argbs, uint8_t* indexes, bool eightBit, int entry, int colour) {
    put(colours, argbs, indexes, eightBit, entry, colour, subtitle_nearest_default4_rgb(colour));
}

// An entry as received (Y, Cr, Cb, T), its colour and the nearest default
// entry to that, kept for the entries seen last: a broadcaster sends the
// same few colours at every display set, often with a new version.
struct Converted {
    uint32_t bytes;
    int colour, nearest;
};

const Converted& convert(const unsigned char* e) {
    struct Seen {
        Converted entries[256];
        Seen() {
            for (Converted& c : entries) c = {0, 0, subtitle_nearest_default4_rgb(0)};  // Y = 0: transparent
        }
    };
    static thread_local Seen seen;
    uint32_t bytes;
    std::memcpy(&bytes, e, sizeof bytes);
    Converted& c = seen.entries[(bytes * 0x9E3779B1u) >> 24];
    if (c.bytes != bytes) {
        c.bytes = bytes;
        c.colour = subtitle_entry_color(e);
        c.nearest = subtitle_nearest_default4_rgb(c.colour);
    }
    return c;
}

// The same where the colour is new: a broadcaster that sends its CLUT
// at every display set with a new version changes few entries, if any.
void update(int* colours, uint32_t* argbs, uint8_t* indexes, bool eightBit, int entry, const Converted& c) {
    if (colours[entry] != c.colour) put(colours, argbs, indexes, eightBit, entry, c.colour, c.nearest);
}

subtitle_clut make_default_clut() {
    subtitle_clut clut{};
    clut.clutId = -1;
    clut.version = -1;
    for (int i = 0; i < 4; ++i) put(clut.colours2, clut.argb2, clut.index2, false, i, default_colour2(i));
    for (int i = 0; i < 16; ++i) put(clut.colours4, clut.argb4, clut.index4, false, i, subtitle_default_color(i));
    for (int i = 0; i < 256; ++i) put(clut.colours8, clut.argb8, clut.index8, true, i, default_colour8(i));
    return clut;
}

}  // namespace

int subtitle_entry_color(const unsigned char* entry) {
    const int y = entry[0], cr = entry[1], cb = entry[2], t = entry[3];
    if (y == 0) return 0;  // Y = 0 is the transparent entry, whatever else it says
    // ITU-R BT.709 limited range, in 8-bit fixed point. A shift rounds a
    // negative sum down where a division would round it up, to a level
    // below 0 either way, which the clamp makes 0.
    const int luma = 298 * (y - 16);
    const int r = clamp255((luma + 460 * (cr - 128)) >> 8);
    const int g = clamp255((luma - 55 * (cb - 128) - 137 * (cr - 128)) >> 8);
    const int b = clamp255((luma + 543 * (cb - 128)) >> 8);
    return rgba(unsigned(r), unsigned(g), unsigned(b), 255u - unsigned(t));
}

// EN 300 743 §10.2: entries 1-7 are the full primaries, 8-15 the same at
// half level (128 here, as this decoder has always shown them).
int subtitle_default_color(int slot) {
    if (slot <= 0 || slot > 15) return 0;
    const unsigned level = slot < 8 ? 255u : 128u;
    return rgba(slot & 1 ? level : 0, slot & 2 ? level : 0, slot & 4 ? level : 0, 255u);
}

const subtitle_clut* subtitle_default_clut() {
    static const subtitle_clut clut = make_default_clut();
    return &clut;
}

const int* subtitle_clut_family(const subtitle_clut* clut, int depth, int* entries) {
    if (!clut) clut = subtitle_default_clut();
    if (depth == 1) {
        *entries = 4;
        return clut->colours2;
    }
    if (depth == 3) {
        *entries = 256;
        return clut->colours8;
    }
    *entries = 16;
    return clut->colours4;
}

const uint32_t* subtitle_clut_argb(const subtitle_clut* clut, int depth) {
    if (!clut) clut = subtitle_default_clut();
    return depth == 1 ? clut->argb2 : depth == 3 ? clut->argb8 : clut->argb4;
}

const uint8_t* subtitle_clut_index(const subtitle_clut* clut, int depth) {
    if (!clut) clut = subtitle_default_clut();
    return depth == 1 ? clut->index2 : depth == 3 ? clut->index8 : clut->index4;
}

int subtitle_nearest_default4(int colour) { return nearest_default4(colour, subtitle_nearest_default4_rgb(colour)); }

// The fifteen colours are the corners of two cubes: entries 1-7 those of
// {0, 255}^3 but black, 8-15 all of {0, 128}^3 (8 black). A squared
// distance is a sum over the channels, so the nearest corner of a cube is
// the nearest level channel by channel, taken as the lower on a tie (the
// first entry, as a search in entry order keeps it). The first cube
// wins a tie between the two, its entries coming first.
namespace {

// Per channel level: the squared distances to the nearer of 0 and 255 and
// of 0 and 128, and which of each is nearer (no tie at 127.5; at 64 both
// are: 0).
struct ChannelDistances {
    int toFull[256], toHalf[256];
    uint8_t full[256], half[256];
    ChannelDistances() {
        for (int v = 0; v < 256; ++v) {
            full[v] = v > 127;
            half[v] = v > 64;
            toFull[v] = full[v] ? (v - 255) * (v - 255) : v * v;
            toHalf[v] = half[v] ? (v - 128) * (v - 128) : v * v;
        }
    }
};

const ChannelDistances& channel_distances() {
    static const ChannelDistances table;
    return table;
}

}  // namespace

int subtitle_nearest_default4_rgb(int colour) {
    const ChannelDistances& t = channel_distances();
    const unsigned c = unsigned(colour);
    const int r = int(c >> 24), g = int((c >> 16) & 0xFF), b = int((c >> 8) & 0xFF);
    int full = t.full[r] | t.full[g] << 1 | t.full[b] << 2;
    int dFull = t.toFull[r] + t.toFull[g] + t.toFull[b];
    const int half = 8 | t.half[r] | t.half[g] << 1 | t.half[b] << 2;
    const int dHalf = t.toHalf[r] + t.toHalf[g] + t.toHalf[b];
    if (!full) {
        // Black is no entry of the first cube: its nearest other corner
        // raises the channel that costs least, the highest (red first on
        // a tie); raising more costs more.
        const int top = r >= g && r >= b ? r : g >= b ? g : b;
        full = r == top ? 1 : g == top ? 2 : 4;
        dFull += (top - 255) * (top - 255) - top * top;
    }
    return dFull <= dHalf ? full : half;
}

void subtitle_process_clut(subtitle_page* page, const unsigned char* data, int length) {
    if (!page || length < 2) return;
    ByteReader body(data, size_t(length));
    const int clutId = body.U8();
    const int version = body.U8() >> 4;
    subtitle_clut* clut = page->cluts;
    while (clut && clut->clutId != clutId) clut = clut->next;
    if (clut && clut->version == version) return;  // a repetition
    if (!clut) {
        clut = new (std::nothrow) subtitle_clut(*subtitle_default_clut());
        if (!clut) {
            eWarning("ERROR: Out of memory for CLUT %d.\n", clutId);
            return;
        }
        clut->next = nullptr;
        subtitle_append(page->cluts, clut);
    }
    // A new version modifies the CLUT: the entries it does not repeat keep
    // their colours.
    clut->clutId = clutId;
    clut->version = version;
    // An entry is 6 bytes with the full_range_flag, else 4; one cut short
    // ends the segment.
    while (!body.AtEnd()) {
        const uint8_t* at = body.Current();
        if (body.Remaining() < 2 || !body.Skip(at[1] & 0x01 ? 6 : 4)) break;
        const int entryId = at[0];
        const int flags = at[1];
        unsigned char e[4];
        if (flags & 0x01) {
            std::memcpy(e, at + 2, 4);
        } else {
            const int v = at[2] << 8 | at[3];
            e[0] = (v >> 10) << 2;
            e[1] = ((v >> 6) & 0x0F) << 4;
            e[2] = ((v >> 2) & 0x0F) << 4;
            e[3] = (v & 3) << 6;
        }
        // An entry goes into every family its flags name that has room for its id.
        const Converted& c = convert(e);
        if ((flags & 0x80) && entryId < 4) update(clut->colours2, clut->argb2, clut->index2, false, entryId, c);
        if ((flags & 0x40) && entryId < 16) update(clut->colours4, clut->argb4, clut->index4, false, entryId, c);
        if (flags & 0x20) update(clut->colours8, clut->argb8, clut->index8, true, entryId, c);
    }
}
