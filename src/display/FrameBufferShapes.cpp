// Outlined text from cached glyph shapes: a line draws every glyph's
// outline (its copies composed once into runs of ink) and then every
// glyph, each as a handful of run fills. With one colour per pass the
// order of the copies does not matter, so the pixels are those of the
// nine DrawText passes that IDisplayDevice::DrawOutlinedText spells out.
#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Utf8.h"
#include "display/FrameBufferDevice.h"

namespace {
int Saturate(long long v) { return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v)); }
}  // namespace

const glyphs::Shape* FrameBufferDevice::ShapeFor(unsigned long character, FT_UInt index, bool outline,
                                                 int outlineSize) {
    const glyphs::Key key{index, static_cast<int>(imageType.width), italic, outline, outline ? outlineSize : 0};
    if (const glyphs::Shape* shape = shapes.Find(key)) return shape;
    if (!LookUpGlyphLogged(character, index)) return nullptr;
    const glyphs::Bitmap bitmap{glyph->buffer, glyph->width, glyph->height, glyph->pitch,
                                glyph->left,   glyph->top,   glyph->xadvance};
    glyphs::Shape fill = glyphs::ShapeOf(bitmap, italic);
    return shapes.Insert(key, outline ? glyphs::OutlineOf(fill, outlineSize) : std::move(fill));
}

// Every run of `shape` with its origin at (x, y), clipped to the surface.
void FrameBufferDevice::FillShape(const Surface& s, const glyphs::Shape& shape, long long x, long long y,
                                  uint32_t word) const {
    for (const glyphs::Span& span : shape.spans) {
        const long long row = y + span.row;
        if (row < 0 || row >= s.lines) continue;
        const long long from = std::max(0LL, x + span.x0);
        const long long to = std::min<long long>(s.columns, x + span.x1);
        if (from >= to) continue;
        unsigned char* line = s.base + row * static_cast<long long>(s.stride);
        if (bpp != 32) {
            std::memset(line + from, static_cast<int>(word & 0xFF), static_cast<size_t>(to - from));
            continue;
        }
        for (unsigned char* p = line + 4 * from; p < line + 4 * to; p += 4) std::memcpy(p, &word, 4);
    }
}

// The pen moves, stops and kerns exactly as in DrawText, so every copy of
// the outline ends at the same character as the text itself.
int FrameBufferDevice::DrawShapes(const std::string& text, int x, int y, int width, int colour, bool outline,
                                  int outlineSize) {
    previousGlyph = 0;
    italic = slant;
    const Surface s = TargetSurface(false);
    const uint32_t word = PixelWord(colour);
    long long pen = x;
    const int limit = Saturate(pen + width);
    const size_t count = std::strlen(text.c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    for (size_t at = 0, used = 0; at < count; at += used) {
        const unsigned long character = utf8::Next(bytes, count, at, used);
        const FT_UInt index = GlyphIndex(character);
        const glyphs::Shape* shape = ShapeFor(character, index, outline, outlineSize);
        if (shape == nullptr) continue;  // takes no room, as in RenderChar
        const int kern = KernAfterPrevious(index);
        const int penX = Saturate(pen);
        if (static_cast<long long>(penX) + shape->advance >= limit) return -1;
        if (s.base) FillShape(s, *shape, static_cast<long long>(penX) + kern, y, word);
        pen += shape->advance + kern;
    }
    return 0;
}

int FrameBufferDevice::DrawOutlinedText(std::string text, int x, int y, int width, int size, int colour,
                                        int outlineColour, int outlineSize) {
    PresentAfter present{*this};
    std::lock_guard<platform::Mutex> guard(textMutex);
    if (!TextOn()) return 0;
    SelectSize(size);
    const int o = std::clamp(outlineSize, -32768, 32767);
    DrawShapes(text, x, y, width, outlineColour, true, o);
    return DrawShapes(text, x, y, width, colour, false, 0);
}
