#include "display/GlyphShapes.h"

#include <algorithm>

namespace glyphs {

Shape ShapeOf(const Bitmap& g, bool italic) {
    Shape shape;
    shape.advance = g.advance;
    if (g.buffer == nullptr) return shape;
    // The same single-precision steps as the renderer's own slant.
    float shift = italic ? static_cast<float>(g.height) * 0.2f : 0.0f;
    const float step = italic ? 0.2f : 0.0f;
    const int bitsPerRow = g.pitch > 0 ? std::min(g.width, g.pitch * 8) : 0;
    for (int r = 0; r < g.height; ++r, shift -= step) {
        const unsigned char* bits = g.buffer + static_cast<size_t>(r) * static_cast<size_t>(g.pitch);
        const int offset = g.left + static_cast<int>(shift);
        for (int i = 0; i < bitsPerRow;) {
            if (!(bits[i >> 3] & (0x80 >> (i & 7)))) {
                ++i;
                continue;
            }
            int start = i;
            while (i < bitsPerRow && (bits[i >> 3] & (0x80 >> (i & 7)))) ++i;
            shape.spans.push_back({r - g.top, offset + start, offset + i});
        }
    }
    return shape;
}

Shape OutlineOf(const Shape& fill, int o) {
    const int copies[8][2] = {{-o, -o}, {-o, o}, {o, -o}, {o, o}, {o, 0}, {-o, 0}, {0, o}, {0, -o}};
    const int count = o >= 2 ? 8 : 4;
    std::vector<Span> all;
    all.reserve(fill.spans.size() * size_t(count));
    for (int c = 0; c < count; ++c)
        for (const Span& s : fill.spans) all.push_back({s.row + copies[c][1], s.x0 + copies[c][0], s.x1 + copies[c][0]});
    std::sort(all.begin(), all.end(),
              [](const Span& a, const Span& b) { return a.row != b.row ? a.row < b.row : a.x0 < b.x0; });
    Shape outline;
    outline.advance = fill.advance;
    for (const Span& s : all) {
        if (!outline.spans.empty() && outline.spans.back().row == s.row && s.x0 <= outline.spans.back().x1)
            outline.spans.back().x1 = std::max(outline.spans.back().x1, s.x1);
        else
            outline.spans.push_back(s);
    }
    return outline;
}

}  // namespace glyphs
