// The display device of the box: draws into a layer of its own the size of
// the screen, optionally through a back buffer, renders text with
// FreeType's glyph cache (FrameBufferText.cpp), and brings the layer onto
// the memory-mapped Linux framebuffer when the lock is released (or at the
// end of a drawing call made without the lock): one update per lock span,
// so a page reaches the screen whole, with one FBIO_BLIT, or in one copy
// where the driver has none.
//
// Other displays (the front end's menus) draw into the same memory. The
// device remembers what it put on the screen (`shown`): an update writes
// only pixels that still hold that, so a clear never erases another
// display's pixels and a drawing never covers them; ShowsOther tells the
// two apart for the collision tests.
//
// Safety rules that hold whatever callers pass:
// - nothing is drawn while the device is not created;
// - the surface is the screen's visible resolution as the driver gives it,
//   cut to what its memory holds and to full HD (1920 x 1080): a larger
//   screen is drawn on in its top left corner. Width() and Height() say
//   what that leaves;
// - every write is clipped against that surface and against the real size
//   of its target (the mapped screen memory or the back buffer), so no
//   coordinate can reach memory the device does not own;
// - the layer, the record of what was shown and the back buffer are lines
//   of the surface's own width, whatever line length the driver reports,
//   so a driver's word cannot make the daemon allocate more than they need;
// - the colour table has 256 entries, all transparent until set.
//
// On 32-bit screens BlitBitmap pairs pixel values with colour-table entries
// so that a DVB region shows its CLUT either way it was filled: values
// 0xF0-0xFF (decoded pixels, 0xF0 + entry) read entry v & 0x0F, every
// other value v reads entry v (so a background fill of 1-15 reads entry
// 1-15). The value 0 is transparent and never written.
#pragma once

#include <linux/fb.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H

#include "display/GlyphShapes.h"
#include "display/IDisplayDevice.h"
#include "platform/Platform.h"

class FrameBufferDevice : public IDisplayDevice {
public:
    FrameBufferDevice();
    virtual ~FrameBufferDevice();
    FrameBufferDevice(const FrameBufferDevice&) = delete;
    FrameBufferDevice& operator=(const FrameBufferDevice&) = delete;

    int Create(std::string fontPath) override;
    int Destroy() override;
    int Clear() override;
    int DrawText(std::string text, int x, int y, int width, int alignment, int size,
                 int colour) override;
    int DrawFilledRect(int x, int y, int width, int height, int colour) override;
    int AllocateBackBuffer(int lines, int colour) override;
    int FreeBackBuffer() override;
    int BlitBackBuffer(int line) override;
    int SelectBackBuffer(bool useBackBuffer) override;
    int ReadPixel(int x, int y, unsigned char* out) override;
    void GetStringSize(int size, std::string text, int& width, int& height, int& depth) override;
    void SetRawColor(int index, int colour) override;
    void BlitBitmap(unsigned char* data, int width, int height, int x, int y) override;
    int Lock() override;
    int UnLock() override;
    int GetBPP() override;
    // Outlines from cached glyph outlines, then the text, in two passes.
    int DrawOutlinedText(std::string text, int x, int y, int width, int size, int colour, int outlineColour,
                         int outlineSize) override;
    void BlitARGB(const uint32_t* data, int width, int height, int x, int y) override;
    bool ShowsOther(int x, int y) override;
    int FirstOther(int x, int top, int bottom, int step) override;
    // The surface that Create found (720 x 576 before it).
    int Width() override { return screenWidth; }
    int Height() override { return screenHeight; }

    void SetSlant(bool on) override { slant = on; }
    // Sum of the advances of `text` at the size last given to DrawText or
    // GetStringSize. Safe to call from any thread.
    int GetStringLen(const char* text);
    // True between a successful Create and Destroy. A font that cannot be
    // had does not keep the display from being created: DVB subtitles are
    // bitmaps. Text (Teletext, the status line) is then off: HasText is
    // false and the text calls draw and measure nothing.
    bool IsCreated() const { return created; }
    bool HasText();
    // With text off: sets the font up again if one of the font files
    // (the configured one, the fallbacks) changed since it was looked at.
    // Returns HasText().
    bool RetryFontIfChanged();

    // A font file as last looked at: the errno that kept it from being
    // read (0: none), its size and its modification time (ns).
    struct FontStamp {
        int error = 0;
        long long size = 0;
        int64_t modified = 0;
        bool operator==(const FontStamp& o) const {
            return error == o.error && size == o.size && modified == o.modified;
        }
    };

    // The cache manager's face requester: opens face 0 of the font read by
    // Create and selects its Unicode map. `FB_FaceRequester` forwards here.
    FT_Error FTC_Face_Requester(FTC_FaceID faceId, FT_Library lib, FT_Face* aface);

    // Largest text size accepted; bigger glyphs cannot be held as small
    // cached bitmaps and would only cost memory on the box.
    static constexpr int kMaxTextSize = 255;

private:
    // Where a drawing operation may write: the current target, its stride,
    // and how many whole columns and lines of the surface it really holds.
    struct Surface {
        unsigned char* base;
        size_t stride;
        int columns;
        int lines;
    };
    // `toScreen` ignores the target and describes the layer (what the
    // screen is to show).
    Surface TargetSurface(bool toScreen) const;
    // The mapped screen itself.
    Surface ScreenSurface() const;
    // Brings what changed in the layer onto the screen (see above).
    void Present();
    template <typename Pixel>
    void PresentRow(unsigned char* screenRow, const unsigned char* layerRow, unsigned char* shownRow, int columns);
    // After a drawing call: made without the lock, it shows at once.
    void PresentUnlessLocked();
    struct PresentAfter {
        FrameBufferDevice& device;
        ~PresentAfter() { device.PresentUnlessLocked(); }
    };
    int BytesPerPixel() const { return bpp == 32 ? 4 : 1; }
    // The surface from the driver's answers; false when nothing of it can be drawn on.
    bool MeasureScreen(int (*tell)(const char*, ...));
    uint32_t PixelWord(int colour) const;
    void FillSpan(unsigned char* row, int x, int count, int colour) const;
    void ReleaseBackBuffer();
    bool AllocateLayer();

    // Text (FrameBufferText.cpp); the callers hold textMutex.
    int SetUpFreeType();
    FT_UInt GlyphIndex(unsigned long code) const;
    int KernAfterPrevious(FT_UInt index);
    void TearDownFreeType();
    // Picks the font file and reads it into fontData (FrameBufferText.cpp).
    bool LoadFont();
    std::vector<std::string> FontCandidates() const;
    bool FontChanged() const;
    bool TextOn() const { return created && face != nullptr; }
    void SelectSize(int size);
    int StringLenLocked(const char* text);
    // `character` is a Unicode code point.
    int RenderChar(unsigned long character, int x, int y, int xLimit, int colour, bool draw);
    void DrawGlyph(const Surface& s, int x, int y, int colour);
    bool LookUpGlyph(FT_UInt index, FT_Error& error);
    // The same, logging a failure with the character it was for.
    bool LookUpGlyphLogged(unsigned long character, FT_UInt index);
    // Shapes (FrameBufferShapes.cpp): one pass of DrawOutlinedText, and the
    // cached shape of a glyph (null when the glyph cannot be had).
    int DrawShapes(const std::string& text, int x, int y, int width, int colour, bool outline, int outlineSize);
    void FillShape(const Surface& s, const glyphs::Shape& shape, long long x, long long y, uint32_t word) const;
    const glyphs::Shape* ShapeFor(unsigned long character, FT_UInt index, bool outline, int outlineSize);

    uint32_t rawColors[256];

    FT_MemoryRec_ freeTypeMemory{};
    FT_Library library = nullptr;
    FTC_Manager cacheManager = nullptr;
    FTC_SBitCache sbitCache = nullptr;
    FTC_SBit glyph = nullptr;
    FTC_ImageTypeRec imageType{};
    FT_Face face = nullptr;
    FT_UInt previousGlyph = 0;
    glyphs::ShapeCache shapes;

    int fd = -1;
    fb_var_screeninfo varInfo{};
    fb_fix_screeninfo fixInfo{};
    unsigned char* target = nullptr;
    unsigned char* backBuffer = nullptr;
    unsigned char* screen = nullptr;
    std::vector<unsigned char> layer;  // what the screen is to show, screen layout
    std::vector<unsigned char> shown;  // what this device last put on the screen
    int backBufferLines = 0;
    int bpp = 0;
    int screenWidth = kScreenWidth;
    int screenHeight = kScreenHeight;
    size_t layerStride = 0;      // bytes a line of the layer, `shown` and the back buffer
    bool toldOversize = false;   // a screen larger than full HD is logged once
    std::string fontPath;
    // The whole font file, read once by Create: FreeType would otherwise map
    // the file, and a font rewritten in place under a running daemon would
    // turn glyph loads into bus errors.
    std::vector<unsigned char> fontData;
    // The file fontData came from, as it was then, and whether it held a
    // font; and every candidate as the last set-up saw it.
    std::string fontRead;
    FontStamp readStamp;
    bool fontUsable = false;
    std::vector<FontStamp> fontStamps;
    bool hasKerning = false;
    bool italic = false;  // the text being drawn is slanted
    bool slant = false;   // text drawn from now on is (SetSlant)
    bool created = false;
    bool createFailed = false;  // the last Create failed: the next is quiet
    bool noBlit = false;  // the driver has no FBIO_BLIT (found at the first unlock)
    // A relock on the same thread or an unlock by a thread that does not
    // hold it is an error result instead of a hang or undefined behaviour.
    platform::Mutex mutex;
    std::atomic<std::thread::id> owner{};  // the thread that holds `mutex`, if any
    // Guards the FreeType state (cache, image type, kerning and slant state):
    // measuring is done outside the display lock by one thread while another
    // may draw text under it.
    platform::Mutex textMutex;
};
