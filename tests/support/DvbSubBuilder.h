// Builders of DVB subtitle test data (ETSI EN 300 743): segments of every
// type the decoder handles, pixel code strings of 2, 4 and 8 bits per pixel
// encoded from runs of (count, code), and whole display-set PES packets.
#pragma once

#include <cstdint>
#include <vector>

namespace dvbsub {

using Bytes = std::vector<uint8_t>;

// EN 300 743 §7.2: sync byte, type, page id, length, body.
Bytes Segment(int type, int pageId, const Bytes& body);

struct RegionRef {
    int regionId;
    int x;
    int y;
};
Bytes PageComposition(int pageId, int timeout, int version, int state,
                      const std::vector<RegionRef>& regions);

struct ObjectRef {
    int objectId;
    int x;
    int y;
    int type = 0;  // 1 and 2 carry foreground and background codes
    int foreground = 0;
    int background = 0;
};
struct Region {
    int regionId = 0;
    int version = 0;
    bool fill = false;
    int width = 0;
    int height = 0;
    int depth = 2;  // 1: 2 bit, 2: 4 bit, 3: 8 bit
    int clutId = 0;
    int code8 = 0;
    int code4 = 0;
    int code2 = 0;
    std::vector<ObjectRef> objects;
};
Bytes RegionComposition(int pageId, const Region& region);

struct ClutEntry {
    int entryId;
    int y;
    int cr;
    int cb;
    int t;
    bool fullRange = true;
    int flags = 0x40;  // 0x80: 2-bit CLUT, 0x40: 4-bit CLUT, 0x20: 8-bit CLUT
};
Bytes ClutDefinition(int pageId, int clutId, int version, const std::vector<ClutEntry>& entries);

// Object data with pixel coding: the fields' pixel-data sub-blocks as given.
Bytes ObjectData(int pageId, int objectId, const Bytes& topField, const Bytes& bottomField,
                 int codingMethod = 0, int version = 0);
Bytes EndOfDisplaySet(int pageId);
// EN 300 743 §7.2.1: a display of width x height pixels; with windowX >= 0
// also a display window from (windowX, windowY) to (windowRight, windowBottom).
Bytes DisplayDefinition(int pageId, int width, int height, int windowX = -1, int windowY = 0, int windowRight = 0,
                        int windowBottom = 0);

// A run of `count` pixels of `code`.
struct Run {
    int count;
    int code;
};

// Pixel-data sub-blocks (EN 300 743 §7.2.5.1).
class PixelData {
public:
    // One code string, including its data_type byte and end-of-string code.
    PixelData& String2(const std::vector<Run>& runs);
    PixelData& String4(const std::vector<Run>& runs);
    PixelData& String8(const std::vector<Run>& runs);
    PixelData& Map2To4(int a, int b, int c, int d);
    PixelData& Map2To8(const Bytes& four);
    PixelData& Map4To8(const Bytes& sixteen);
    PixelData& EndOfLine();
    // A whole line as one 4-bit string and an end-of-line code.
    PixelData& Line4(const std::vector<Run>& runs) { return String4(runs).EndOfLine(); }
    PixelData& Raw(const Bytes& bytes);
    const Bytes& Data() const { return data_; }

private:
    Bytes data_;
};

// A DVB subtitle PES around the segments (data identifier, stream id,
// segments, end_of_PES_data_field_marker unless `endMarker` is false).
Bytes DisplaySetPes(const Bytes& segments, bool endMarker = true, int64_t pts = -1);

Bytes Concat(const std::vector<Bytes>& parts);

}  // namespace dvbsub
