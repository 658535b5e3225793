// Text rendering of FrameBufferDevice: one TrueType font through FreeType's
// cache subsystem, glyphs as cached 1-bit bitmaps written straight into the
// current drawing target, with kerning, upright or slanted.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>

#include <ft2build.h>
#include FT_MODULE_H

#include "platform/Log.h"
#include "platform/Utf8.h"
#include "display/FrameBufferDevice.h"
#include "display/FreeTypeErrors.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

namespace {
// Cache limits of the box: faces, sizes, bytes.
constexpr FT_UInt kMaxFaces = 10;
constexpr FT_UInt kMaxSizes = 20;
constexpr FT_ULong kMaxCacheBytes = 0x100000;
// Largest font file read (big CJK fonts are some 20 MB).
constexpr size_t kMaxFontBytes = size_t(32) << 20;

FT_Error FB_FaceRequester(FTC_FaceID faceId, FT_Library lib, FT_Pointer requestData,
                          FT_Face* aface) {
    return static_cast<FrameBufferDevice*>(requestData)->FTC_Face_Requester(faceId, lib, aface);
}

// 26.6 fixed point to whole pixels, rounding down.
int FloorPixels(FT_Pos v) { return static_cast<int>(v >= 0 ? v / 64 : -((-v + 63) / 64)); }

int Saturate(long long v) {
    return v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
}
}  // namespace

FT_Error FrameBufferDevice::FTC_Face_Requester(FTC_FaceID faceId, FT_Library lib, FT_Face* aface) {
    const char* path = static_cast<const char*>(faceId);
    FT_Error error = FT_Err_Cannot_Open_Resource;
    if (!fontData.empty())
        error = FT_New_Memory_Face(lib, fontData.data(), FT_Long(fontData.size()), 0, aface);
    if (error) {
        eWarning("FT_New_Face failed: %s, for font: %s\n", freetype::ErrorText(error), path);
        return error;
    }
    FT_Select_Charmap(*aface, FT_ENCODING_UNICODE);
    return 0;
}

int FrameBufferDevice::SetUpFreeType() {
    // The library is built as FT_Init_FreeType builds it, but on a zeroing
    // allocator: FTC_Manager_New of the FreeType at hand leaves the cache's
    // weight counter uninitialised, and a garbage weight makes the cache
    // throw away every glyph it holds at each new one, so every character
    // would be rendered again at every draw. No FREETYPE_PROPERTIES either:
    // the daemon reads no environment.
    freeTypeMemory.user = nullptr;
    freeTypeMemory.alloc = [](FT_Memory, long size) -> void* { return std::calloc(1, size_t(size)); };
    freeTypeMemory.free = [](FT_Memory, void* block) { std::free(block); };
    freeTypeMemory.realloc = [](FT_Memory, long, long size, void* block) -> void* {
        return std::realloc(block, size_t(size));
    };
    FT_Error error = FT_New_Library(&freeTypeMemory, &library);
    if (!error) FT_Add_Default_Modules(library);
    if (error) {
        eWarning("FT_Init_FreeType failed with Errorcode 0x%.2X", static_cast<unsigned>(error));
        library = nullptr;
        return -1;
    }
    error = FTC_Manager_New(library, kMaxFaces, kMaxSizes, kMaxCacheBytes, FB_FaceRequester, this,
                            &cacheManager);
    if (error) {
        eWarning("FTC_Manager_New failed with Errorcode 0x%.2X\n", static_cast<unsigned>(error));
        cacheManager = nullptr;
        TearDownFreeType();
        return -1;
    }
    error = FTC_SBitCache_New(cacheManager, &sbitCache);
    if (error) {
        eWarning("FTC_SBitCache_New failed with Errorcode 0x%.2X\n", static_cast<unsigned>(error));
        TearDownFreeType();
        return -1;
    }
    if (!LoadFont()) {
        TearDownFreeType();
        return -1;
    }
    // The face id is the path text itself; fontRead keeps it alive until the
    // manager is ended.
    FTC_FaceID faceId = const_cast<char*>(fontRead.c_str());
    error = FTC_Manager_LookupFace(cacheManager, faceId, &face);
    if (error) {
        // The requester told why. The bytes are no font: they are not kept,
        // and not read again until the file changes.
        std::vector<unsigned char>().swap(fontData);
        fontUsable = false;
        TearDownFreeType();
        return -1;
    }
    hasKerning = FT_HAS_KERNING(face);
    imageType.face_id = faceId;
    imageType.width = imageType.height = 0;
    // Rendered monochrome bitmaps, one bit per pixel, hinted for them.
    imageType.flags = FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO;
    previousGlyph = 0;
    italic = false;
    glyph = nullptr;
    return 0;
}

void FrameBufferDevice::TearDownFreeType() {
    shapes.Clear();
    if (cacheManager) FTC_Manager_Done(cacheManager);  // also ends the caches and the face
    if (library) FT_Done_Library(library);
    cacheManager = nullptr;
    sbitCache = nullptr;
    library = nullptr;
    face = nullptr;
    glyph = nullptr;
    // fontData stays: the next Create uses it again while the file is
    // unchanged.
}

namespace {
// Opens the file as the reading would (following a link) and takes its
// size and modification time; a folder or a node that is not a file counts
// as unreadable.
FrameBufferDevice::FontStamp StampOf(const std::string& path) {
    FrameBufferDevice::FontStamp stamp;
    const int fd = platform::Open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        stamp.error = errno;
        return stamp;
    }
    struct stat st{};
    if (platform::Current().Fstat(fd, &st) != 0)
        stamp.error = errno;
    else if (S_ISDIR(st.st_mode))
        stamp.error = EISDIR;
    else if (!S_ISREG(st.st_mode))
        stamp.error = EINVAL;
    stamp.size = st.st_size;
    stamp.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    platform::Close(fd);
    return stamp;
}
}  // namespace

std::vector<std::string> FrameBufferDevice::FontCandidates() const {
    std::vector<std::string> paths = {fontPath};
    for (const char* fallback : paths::kFallbackFonts)
        if (fontPath != fallback) paths.push_back(fallback);
    return paths;
}

bool FrameBufferDevice::FontChanged() const {
    const std::vector<std::string> paths = FontCandidates();
    if (paths.size() != fontStamps.size()) return true;
    for (size_t i = 0; i < paths.size(); ++i)
        if (!(StampOf(paths[i]) == fontStamps[i])) return true;
    return false;
}

// The configured font, or, when it is missing, the first of the fallbacks
// that exists. A file read before and unchanged since (same size and
// modification time) is not read again: its bytes are still here, or it
// was found to be no font and still is none.
bool FrameBufferDevice::LoadFont() {
    const std::vector<std::string> paths = FontCandidates();
    fontStamps.clear();
    for (const std::string& path : paths) fontStamps.push_back(StampOf(path));
    size_t chosen = 0;
    while (chosen + 1 < paths.size() && (fontStamps[chosen].error == ENOENT || fontStamps[chosen].error == ENOTDIR))
        ++chosen;
    if (fontStamps[chosen].error == ENOENT) chosen = 0;  // none is there: tell the configured one
    const std::string& path = paths[chosen];
    const FontStamp& stamp = fontStamps[chosen];
    if (path == fontRead && stamp == readStamp) {
        if (!fontUsable) eTrace("Font %s unchanged since it was found unusable\n", path.c_str());
        return fontUsable;
    }
    fontRead = path;
    readStamp = stamp;
    fontUsable = true;
    const int readError = stamp.error ? stamp.error : platform::ReadWholeFile(path.c_str(), fontData, kMaxFontBytes);
    if (readError != 0) {
        std::vector<unsigned char>().swap(fontData);
        if (readError == ENOENT)
            eWarning("Font %s not found\n", path.c_str());
        else
            eWarning("Could not read font %s: %s\n", path.c_str(), strerror(readError));
        fontUsable = false;
        return false;
    }
    if (chosen > 0) eDebug("Font %s is missing; using %s\n", fontPath.c_str(), path.c_str());
    return true;
}

void FrameBufferDevice::SelectSize(int size) {
    // The image type holds 16-bit sizes.
    imageType.width = imageType.height = static_cast<uint16_t>(size);
    if (imageType.width == 0 || imageType.width > kMaxTextSize) return;
    // The cache activates a size on the face only when it renders a glyph
    // that it has not cached yet; kerning is scaled by the active size, so
    // activate ours even when every glyph is a cache hit.
    FTC_ScalerRec scaler{imageType.face_id, imageType.width, imageType.height, 1, 0, 0};
    FT_Size activeSize = nullptr;
    if (FTC_Manager_LookupSize(cacheManager, &scaler, &activeSize) == 0 && activeSize) {
        face = activeSize->face;
    }
}

bool FrameBufferDevice::LookUpGlyph(FT_UInt index, FT_Error& error) {
    if (imageType.width == 0 || imageType.width > kMaxTextSize) {
        error = FT_Err_Invalid_Pixel_Size;
        return false;
    }
    error = FTC_SBitCache_Lookup(sbitCache, &imageType, index, &glyph, nullptr);
    return error == 0 && glyph != nullptr;
}

bool FrameBufferDevice::LookUpGlyphLogged(unsigned long character, FT_UInt index) {
    FT_Error error = 0;
    if (LookUpGlyph(index, error)) return true;
    std::string shown;
    utf8::Append(shown, character);
    eWarning("TFB: <FTC_SBitCache_Lookup for Char \"%s\" failed with Errorcode 0x%.2X>\n", shown.c_str(),
           static_cast<unsigned>(error));
    return false;
}

// A code the font lacks is drawn as its blank.
FT_UInt FrameBufferDevice::GlyphIndex(unsigned long code) const {
    const FT_UInt index = FT_Get_Char_Index(face, code);
    return index != 0 ? index : FT_Get_Char_Index(face, ' ');
}

// The kerning between the glyph drawn before and this one; this one
// becomes the glyph before.
int FrameBufferDevice::KernAfterPrevious(FT_UInt index) {
    if (!hasKerning) return 0;
    FT_Vector delta{0, 0};
    FT_Get_Kerning(face, previousGlyph, index, FT_KERNING_DEFAULT, &delta);
    previousGlyph = index;
    return FloorPixels(delta.x);
}

int FrameBufferDevice::RenderChar(unsigned long character, int x, int y, int xLimit, int colour,
                                  bool draw) {
    const FT_UInt index = GlyphIndex(character);
    if (!LookUpGlyphLogged(character, index)) return 0;
    const int kern = KernAfterPrevious(index);
    int advance = glyph->xadvance;
    if (!draw) return advance + kern;
    if (static_cast<long long>(x) + advance >= xLimit) return -1;
    Surface s = TargetSurface(false);
    if (s.base && glyph->buffer) DrawGlyph(s, x + kern, y, colour);
    return advance + kern;
}

void FrameBufferDevice::DrawGlyph(const Surface& s, int x, int y, int colour) {
    const FTC_SBitRec& g = *glyph;
    // The slant moves the top row right by a fifth of the glyph's height and
    // each row below a fifth of a pixel less.
    float shift = italic ? static_cast<float>(g.height) * 0.2f : 0.0f;
    const float step = italic ? 0.2f : 0.0f;
    const uint32_t word = PixelWord(colour);
    const int bitsPerRow = g.pitch > 0 ? std::min<int>(g.width, g.pitch * 8) : 0;
    for (int r = 0; r < g.height; ++r, shift -= step) {
        long long row = static_cast<long long>(y) - g.top + r;
        if (row < 0 || row >= s.lines) continue;
        long long left = static_cast<long long>(x) + g.left + static_cast<int>(shift);
        unsigned char* line = s.base + row * s.stride;
        const unsigned char* bits = g.buffer + r * g.pitch;
        for (int i = 0; i < bitsPerRow; ++i) {
            if (!(bits[i >> 3] & (0x80 >> (i & 7)))) continue;
            long long column = left + i;
            if (column < 0 || column >= s.columns) continue;
            if (bpp == 32) {
                std::memcpy(line + 4 * column, &word, 4);
            } else {
                line[column] = static_cast<unsigned char>(word);
            }
        }
    }
}

int FrameBufferDevice::StringLenLocked(const char* text) {
    previousGlyph = 0;
    italic = false;
    long long length = 0;
    const size_t size = std::strlen(text);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t at = 0, used = 0; at < size; at += used)
        length += RenderChar(utf8::Next(bytes, size, at, used), -1, -1, -1, -1, false);
    return Saturate(length);
}

int FrameBufferDevice::GetStringLen(const char* text) {
    std::lock_guard<platform::Mutex> guard(textMutex);
    if (!TextOn() || !text) return 0;
    return StringLenLocked(text);
}

void FrameBufferDevice::GetStringSize(int size, std::string text, int& width, int& height,
                                      int& depth) {
    width = height = depth = 0;
    std::lock_guard<platform::Mutex> guard(textMutex);
    if (!TextOn()) return;
    SelectSize(size);
    previousGlyph = 0;
    italic = false;
    long long total = 0;
    const size_t count = std::strlen(text.c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    for (size_t at = 0, used = 0; at < count; at += used) {
        const unsigned long code = utf8::Next(bytes, count, at, used);
        total += RenderChar(code, -1, -1, -1, -1, false);
        // Height and depth come from the character as received.
        FT_UInt index = FT_Get_Char_Index(face, code);
        if (index == 0) index = FT_Get_Char_Index(face, ' ');
        FT_Error ignored;
        if (!LookUpGlyph(index, ignored)) continue;
        height = std::max<int>(height, glyph->height);
        depth = std::max<int>(depth, glyph->height - glyph->top);
    }
    width = Saturate(total);
}

int FrameBufferDevice::DrawText(std::string text, int x, int y, int width, int alignment, int size,
                                int colour) {
    PresentAfter present{*this};
    std::lock_guard<platform::Mutex> guard(textMutex);
    if (!TextOn()) return 0;
    SelectSize(size);
    long long pen = x;
    if (alignment != 0) {
        long long length = StringLenLocked(text.c_str());
        if (alignment == 1 && length < width) pen += (width - length) / 2;
        if (alignment == 2 && length < width) pen += width - length;
    }
    previousGlyph = 0;
    italic = slant;
    const int limit = Saturate(pen + width);
    const size_t count = std::strlen(text.c_str());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    for (size_t at = 0, used = 0; at < count; at += used) {
        int step = RenderChar(utf8::Next(bytes, count, at, used), Saturate(pen), y, limit, colour, true);
        if (step == -1) return -1;
        pen += step;
    }
    return 0;
}

bool FrameBufferDevice::HasText() {
    std::lock_guard<platform::Mutex> guard(textMutex);
    return TextOn();
}

bool FrameBufferDevice::RetryFontIfChanged() {
    std::lock_guard<platform::Mutex> guard(textMutex);
    if (!created || TextOn()) return TextOn();
    if (!FontChanged()) return false;
    TearDownFreeType();
    if (SetUpFreeType() == 0) {
        eDebug("Font %s set up: text is drawn again\n", fontRead.c_str());
        return true;
    }
    return false;
}
