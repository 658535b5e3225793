// Glyphs kept as runs of ink, ready to fill: the glyph's own shape, and its
// outline (the union of the glyph's copies moved by the outline distance,
// the copies a Teletext line draws behind its text). A line then costs one
// run fill per run instead of one pixel test per bitmap bit and copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace glyphs {

struct Span {
    int row;     // relative to the baseline
    int x0, x1;  // columns [x0, x1), relative to the pen
};

struct Shape {
    std::vector<Span> spans;  // sorted by row, then column; no two touch
    int advance = 0;
};

// A rendered 1-bit glyph bitmap (most significant bit first, a set bit is
// ink) and where it sits: `left` columns from the pen, `top` rows above the
// baseline. With `italic` row r moves right by the slant of the text
// renderer: a fifth of the height at the top, a fifth of a pixel less on
// each row below, truncated toward zero.
struct Bitmap {
    const unsigned char* buffer;
    int width, height, pitch;
    int left, top;
    int advance;
};
Shape ShapeOf(const Bitmap& bitmap, bool italic);

// The union of `fill` moved by the outline copies at distance `o`: the four
// diagonal ones, and for `o` of 2 or more the four straight ones too.
Shape OutlineOf(const Shape& fill, int o);

struct Key {
    unsigned glyph;
    int size;
    bool italic;
    bool outline;
    int outlineSize;
    bool operator==(const Key& k) const {
        return glyph == k.glyph && size == k.size && italic == k.italic && outline == k.outline &&
               outlineSize == k.outlineSize;
    }
};
struct KeyHash {
    size_t operator()(const Key& k) const {
        uint64_t v = uint64_t(k.glyph) << 32 ^ uint64_t(uint32_t(k.size)) << 16 ^ uint64_t(uint32_t(k.outlineSize)) ^
                     (k.italic ? 1ULL << 62 : 0) ^ (k.outline ? 1ULL << 63 : 0);
        return std::hash<uint64_t>()(v);
    }
};

// The shapes of one font. Bounded: when full it starts again empty, so a
// stream of ever new glyphs cannot grow it without end.
class ShapeCache {
public:
    static constexpr size_t kMaxShapes = 2048;
    const Shape* Find(const Key& key) const {
        auto it = shapes_.find(key);
        return it == shapes_.end() ? nullptr : &it->second;
    }
    // The returned shape stays valid until the next Insert or Clear.
    const Shape* Insert(const Key& key, Shape shape) {
        if (shapes_.size() >= kMaxShapes) shapes_.clear();
        return &(shapes_[key] = std::move(shape));
    }
    void Clear() { shapes_.clear(); }
    size_t Size() const { return shapes_.size(); }

private:
    std::unordered_map<Key, Shape, KeyHash> shapes_;
};

}  // namespace glyphs
