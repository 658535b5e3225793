// Outlined text from cached glyph shapes: a line draws every glyph's
// outline (its copies composed once into runs of ink) and then every
// glyph, each as a handful of run fills. With one colour per pass the
// order of the copies does not matter, so the pixels are those of the
// nine DrawText passes that IDisplayDevice::DrawOutlinedText spells out.
#include <algorithm>
#include <climits>
#include <cstring>

#include "config/Utf8.h"
#include "display/FrameBufferDevice.h"
#include "platform/Log.h"

namespace {
int FloorPixels(FT_Pos v) { return static_cast<int>(v >= 0 ? v / 64 : -((-v + 63) / 64)); }
int Saturate(long long v) { return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v)); }
}  // namespace

const glyphs::Shape* FrameBufferDevice::ShapeFor(unsigned long character, FT_UInt index, bool outline,
                                                 int outlineSize) {
    const glyphs::Key key{index, static_cast<int>(imageType.width), italic, outline, outline ? outlineSize : 0};
    if (const glyphs::Shape* shape = shapes.Find(key)) return shape;
    FT_Error error = 0;
    if (!LookUpGlyph(index, error)) {
        std::string shown;
        utf8::Append(shown, character);
        eDebug("TFB: <FTC_SBitCache_Lookup for Char \"%s\" failed with Errorcode 0x%.2X>\n", shown.c_str(),
               static_cast<unsigned>(error));
        return nullptr;
    }
    const glyphs::Bitmap bitmap{glyph->buffer, glyph->width, glyph->height, glyph->pitch,
                                glyph->left,   glyph->top,   glyph->xadvance};
    glyphs::Shape fill = glyphs::ShapeOf(bitmap, italic);
    return shapes.Insert(key, outline ? glyphs::OutlineOf(fill, outlineSize) : std::move(fill));
}

// The pen moves, stops and kerns exactly as in DrawText, so every copy of
// the outline ends at the same character as the text itself.
int FrameBufferDevice::DrawShapes(const std::string& text, int x, int y, int width, int colour, bool outline,
                                  int outlineSize) {
    previousGlyph = 0;
    italic = false;
    const Surface s = TargetSurface(false);
    long long pen = x;
    const int limit = Saturate(pen + width);
    const size_t count = std::strlen(text.c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    for (size_t at = 0, used = 0; at < count; at += used) {
        const unsigned long character = utf8::Next(bytes, count, at, used);
        const unsigned long code = ResolveCode(character);
        FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0) index = FT_Get_Char_Index(face, ' ');
        const glyphs::Shape* shape = ShapeFor(character, index, outline, outlineSize);
        if (shape == nullptr) continue;  // takes no room, as in RenderChar
        int kern = 0;
        if (hasKerning) {
            FT_Vector delta{0, 0};
            FT_Get_Kerning(face, previousGlyph, index, FT_KERNING_DEFAULT, &delta);
            kern = FloorPixels(delta.x);
            previousGlyph = index;
        }
        const int penX = Saturate(pen);
        if (static_cast<long long>(penX) + shape->advance >= limit) return -1;
        if (s.base) {
            const long long originX = static_cast<long long>(penX) + kern;
            for (const glyphs::Span& span : shape->spans) {
                const long long row = static_cast<long long>(y) + span.row;
                if (row < 0 || row >= s.lines) continue;
                const long long from = std::max(0LL, originX + span.x0);
                const long long to = std::min<long long>(s.columns, originX + span.x1);
                if (from < to)
                    FillSpan(s.base + row * static_cast<long long>(s.stride), static_cast<int>(from),
                             static_cast<int>(to - from), colour);
            }
        }
        pen += shape->advance + kern;
    }
    return 0;
}

int FrameBufferDevice::DrawOutlinedText(std::string text, int x, int y, int width, int size, int colour,
                                        int outlineColour, int outlineSize) {
    std::lock_guard<std::mutex> guard(textMutex);
    if (!created) return 0;
    SelectSize(size);
    const int o = std::clamp(outlineSize, -32768, 32767);
    DrawShapes(text, x, y, width, outlineColour, true, o);
    return DrawShapes(text, x, y, width, colour, false, 0);
}
