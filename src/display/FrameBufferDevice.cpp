#include "display/FrameBufferDevice.h"

#include <fcntl.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Log.h"
#include "platform/Constants.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

namespace {
// The driver is asked this many times to bring the drawing on screen.
constexpr int kBlitAttempts = 9;

// 0xRRGGBBAA -> 0xAARRGGBB, the word a 32-bit screen stores.
uint32_t Rotate(int colour) {
    uint32_t c = static_cast<uint32_t>(colour);
    return (c >> 8) | (c << 24);
}

void Store32(unsigned char* p, uint32_t word) { std::memcpy(p, &word, sizeof word); }

int Silent(const char*, ...) { return 0; }
}  // namespace

FrameBufferDevice::FrameBufferDevice() {
    std::fill(std::begin(rawColors), std::end(rawColors), 0u);
}

FrameBufferDevice::~FrameBufferDevice() {
    // The owner destroys the device (unmapping the screen) before this; the
    // back buffer is heap memory of ours and must not outlive us.
    ReleaseBackBuffer();
}

int FrameBufferDevice::Create(std::string path) {
    // A second Create would otherwise leak the mapping and the descriptor.
    if (created) Destroy();
    noBlit = false;
    // A driver that is not there yet is asked again and again by the main
    // loop: what failed is told at the first failure, and the attempts after
    // it are quiet until one succeeds.
    const bool quiet = createFailed;
    createFailed = true;
    auto tell = quiet ? Silent : eWarning;
    auto info = quiet ? Silent : eDebug;
    fd = platform::Open(paths::kFrameBuffer, O_RDWR);
    if (fd < 0) {
        tell("Could not open frame buffer\n");
        return -1;
    }
    if (platform::Ioctl(fd, FBIOGET_VSCREENINFO, &varInfo) < 0) {
        tell("Could not execute FBIOGET_VSCREENINFO\n");
        platform::Close(fd);
        fd = -1;
        return -1;
    }
    if (platform::Ioctl(fd, FBIOGET_FSCREENINFO, &fixInfo) < 0) {
        tell("Could not execute FBIOGET_FSCREENINFO\n");
        platform::Close(fd);
        fd = -1;
        return -1;
    }
    info("Found %dk video memory\n", static_cast<int>(fixInfo.smem_len / 1024));
    void* mapped = platform::Mmap(fixInfo.smem_len, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED || mapped == nullptr) {
        tell("Could not mmap(screen memory)\n");
        platform::Close(fd);
        fd = -1;
        return -1;
    }
    screen = static_cast<unsigned char*>(mapped);
    target = screen;
    backBuffer = nullptr;
    backBufferLines = 0;
    bpp = static_cast<int>(varInfo.bits_per_pixel);
    info("Current framebuffer info\n");
    info("bpp=%d\n", bpp);
    info("width=%d\n", static_cast<int>(varInfo.xres));
    info("height=%d\n", static_cast<int>(varInfo.yres));
    info("stride=%d\n", static_cast<int>(fixInfo.line_length));
    if (!MeasureScreen(tell)) {
        platform::Munmap(screen, fixInfo.smem_len);
        screen = target = nullptr;
        platform::Close(fd);
        fd = -1;
        return -1;
    }

    {
        std::lock_guard<platform::Mutex> guard(textMutex);
        fontPath = path;
        if (SetUpFreeType() != 0)
            eWarning("No usable font: Teletext and the status line are not drawn, DVB subtitles are\n");
    }
    if (!AllocateLayer()) {
        {
            std::lock_guard<platform::Mutex> guard(textMutex);
            TearDownFreeType();
        }
        platform::Munmap(screen, fixInfo.smem_len);
        screen = target = nullptr;
        platform::Close(fd);
        fd = -1;
        return -1;
    }
    created = true;
    createFailed = false;
    return 0;
}

// The visible resolution, cut to full HD and to the whole pixels and lines
// that the line length and the memory hold: the sizes come from the driver
// and bound every buffer and every write below.
bool FrameBufferDevice::MeasureScreen(int (*tell)(const char*, ...)) {
    const unsigned long long xres = varInfo.xres, yres = varInfo.yres;
    if ((xres > kMaxScreenWidth || yres > kMaxScreenHeight) && !toldOversize) {
        eWarning("The screen has %llux%llu pixels; drawing on its top left %dx%d\n", xres, yres,
                 int(std::min<unsigned long long>(xres, kMaxScreenWidth)),
                 int(std::min<unsigned long long>(yres, kMaxScreenHeight)));
        toldOversize = true;
    }
    const size_t stride = fixInfo.line_length;
    const unsigned long long columns = std::min<unsigned long long>(
        {xres, static_cast<unsigned long long>(kMaxScreenWidth), stride / BytesPerPixel()});
    const unsigned long long lines = std::min<unsigned long long>(
        {yres, static_cast<unsigned long long>(kMaxScreenHeight), stride ? fixInfo.smem_len / stride : 0});
    if (columns == 0 || lines == 0) {
        tell("Could not draw on a screen of %llux%llu pixels (line length %zu, %u bytes of memory)\n", xres,
                 yres, stride, fixInfo.smem_len);
        return false;
    }
    screenWidth = static_cast<int>(columns);
    screenHeight = static_cast<int>(lines);
    layerStride = static_cast<size_t>(screenWidth) * BytesPerPixel();
    return true;
}

// The layer and the record of what was shown cover the surface; both start
// empty (nothing of ours is on the screen).
bool FrameBufferDevice::AllocateLayer() {
    const size_t bytes = layerStride * static_cast<size_t>(screenHeight);
    try {
        layer.assign(bytes, 0);
        shown.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        eWarning("Could not allocate the drawing layer (%zu bytes)\n", 2 * bytes);
        return false;
    }
    return true;
}

int FrameBufferDevice::Destroy() {
    if (!created) return 0;
    {
        std::lock_guard<platform::Mutex> guard(textMutex);
        TearDownFreeType();
        created = false;
    }
    ReleaseBackBuffer();
    std::vector<unsigned char>().swap(layer);
    std::vector<unsigned char>().swap(shown);
    platform::Munmap(screen, fixInfo.smem_len);
    screen = target = nullptr;
    int result = platform::Close(fd);
    fd = -1;
    return result;
}

FrameBufferDevice::Surface FrameBufferDevice::TargetSurface(bool toScreen) const {
    Surface s{nullptr, layerStride, 0, 0};
    if (!created || layer.empty()) return s;
    s.columns = screenWidth;
    if (toScreen || target != backBuffer || backBuffer == nullptr) {
        s.base = const_cast<unsigned char*>(layer.data());
        s.lines = screenHeight;
    } else {
        s.base = backBuffer;
        s.lines = std::min(screenHeight, backBufferLines);
    }
    return s;
}

FrameBufferDevice::Surface FrameBufferDevice::ScreenSurface() const {
    Surface s = TargetSurface(true);
    if (s.base) s.base = screen;
    s.stride = fixInfo.line_length;
    return s;
}

// A pixel whose wanted value differs from what was shown is written when
// the screen still holds what was shown; else another display has drawn
// there since, and the pixel is left to it (and counted as no longer ours,
// so that it is drawn again once that display has gone).
template <typename Pixel>
void FrameBufferDevice::PresentRow(unsigned char* screenRow, const unsigned char* layerRow, unsigned char* shownRow,
                                   int columns) {
    // Loads and stores through memcpy: a line length need not keep words aligned.
    for (size_t at = 0, end = size_t(columns) * sizeof(Pixel); at < end; at += sizeof(Pixel)) {
        Pixel want, was, seen;
        std::memcpy(&want, layerRow + at, sizeof want);
        std::memcpy(&was, shownRow + at, sizeof was);
        if (want == was) continue;
        std::memcpy(&seen, screenRow + at, sizeof seen);
        const bool ours = seen == was;
        const Pixel now = ours ? want : Pixel(0);
        if (ours) std::memcpy(screenRow + at, &want, sizeof want);
        std::memcpy(shownRow + at, &now, sizeof now);
    }
}

void FrameBufferDevice::Present() {
    const Surface s = ScreenSurface();
    if (!s.base) return;
    for (int row = 0; row < s.lines; ++row) {
        const size_t at = static_cast<size_t>(row) * layerStride;
        if (std::memcmp(&layer[at], &shown[at], layerStride) == 0) continue;
        unsigned char* screenRow = s.base + static_cast<size_t>(row) * s.stride;
        if (bpp == 32)
            PresentRow<uint32_t>(screenRow, &layer[at], &shown[at], s.columns);
        else
            PresentRow<uint8_t>(screenRow, &layer[at], &shown[at], s.columns);
    }
}

void FrameBufferDevice::PresentUnlessLocked() {
    if (owner.load() == std::thread::id()) Present();
}

bool FrameBufferDevice::ShowsOther(int x, int y) { return y >= 0 && FirstOther(x, y, y + 1, 1) == y; }

int FrameBufferDevice::FirstOther(int x, int top, int bottom, int step) {
    const Surface s = ScreenSurface();
    if (!s.base || x < 0 || x >= s.columns || step < 1) return -1;
    if (top < 0) top += (-top + step - 1) / step * step;
    if (bottom > s.lines) bottom = s.lines;
    const size_t column = static_cast<size_t>(x) * BytesPerPixel();
    for (int y = top; y < bottom; y += step) {
        const unsigned char* seenAt = s.base + static_cast<size_t>(y) * s.stride + column;
        const unsigned char* oursAt = &shown[static_cast<size_t>(y) * layerStride + column];
        if (bpp != 32) {
            if (*seenAt != 0 && *seenAt != *oursAt) return y;
            continue;
        }
        uint32_t seen, ours;
        std::memcpy(&seen, seenAt, 4);
        std::memcpy(&ours, oursAt, 4);
        if ((seen >> 24) != 0 && seen != ours) return y;
    }
    return -1;
}

uint32_t FrameBufferDevice::PixelWord(int colour) const {
    return bpp == 32 ? Rotate(colour) : static_cast<uint32_t>(colour) & 0xFF;
}

void FrameBufferDevice::FillSpan(unsigned char* row, int x, int count, int colour) const {
    if (bpp != 32) {
        std::memset(row + x, colour & 0xFF, static_cast<size_t>(count));
        return;
    }
    uint32_t word = Rotate(colour);
    unsigned char* p = row + 4 * static_cast<size_t>(x);
    const size_t bytes = 4 * static_cast<size_t>(count);
    // Spans fill a whole back buffer, a box, or a few pixels of a glyph:
    // a word of four equal bytes is a memset, a long span copies what it
    // has filled already in doubling steps.
    if (word == (word & 0xFF) * 0x01010101u) {
        std::memset(p, int(word & 0xFF), bytes);
        return;
    }
    if (count < 16) {
        for (int i = 0; i < count; ++i, p += 4) Store32(p, word);
        return;
    }
    for (int i = 0; i < 4; ++i) Store32(p + 4 * i, word);
    for (size_t done = 16; done < bytes; done *= 2) std::memcpy(p + done, p, std::min(done, bytes - done));
}

int FrameBufferDevice::Clear() {
    DrawFilledRect(0, 0, screenWidth, screenHeight, 0);
    return 1;
}

int FrameBufferDevice::DrawFilledRect(int x, int y, int width, int height, int colour) {
    PresentAfter present{*this};
    // The x rules are the interface's own (the fill covers x .. x + width
    // inclusive, limited to the last column); 64-bit sums keep huge
    // arguments from overflowing.
    long long left = x < 0 ? 0 : (x >= screenWidth ? screenWidth - 1 : x);
    long long w = width;
    if (left + w >= screenWidth) w = screenWidth - 1 - left;
    if (w <= 0) return 0;
    Surface s = TargetSurface(false);
    if (!s.base) return 0;
    long long right = std::min<long long>(left + w, s.columns - 1);
    long long top = std::max<long long>(y, 0);
    long long bottom = std::min<long long>(static_cast<long long>(y) + height, s.lines);
    if (right < left || top >= bottom) return 0;
    // The first row is filled, the others are copies of it.
    const int count = static_cast<int>(right - left + 1);
    unsigned char* first = s.base + top * s.stride;
    FillSpan(first, static_cast<int>(left), count, colour);
    const size_t offset = static_cast<size_t>(left) * BytesPerPixel();
    const size_t bytes = static_cast<size_t>(count) * BytesPerPixel();
    for (long long row = top + 1; row < bottom; ++row)
        std::memcpy(s.base + row * s.stride + offset, first + offset, bytes);
    return 0;
}

int FrameBufferDevice::AllocateBackBuffer(int lines, int colour) {
    if (!created) return 0;
    bool wasSelected = backBuffer != nullptr && target == backBuffer;
    // A buffer already there would be lost; one taller than the surface is
    // never needed and could exhaust a box's memory.
    ReleaseBackBuffer();
    if (lines <= 0 || lines > screenHeight || layerStride == 0) {
        eWarning("Could not allocate Back buffer...\n");
        return 0;
    }
    backBuffer = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(lines) * layerStride));
    if (!backBuffer) {
        eWarning("Could not allocate Back buffer...\n");
        return 0;
    }
    backBufferLines = lines;
    if (wasSelected) target = backBuffer;
    for (int row = 0; row < lines; ++row)
        FillSpan(backBuffer + static_cast<size_t>(row) * layerStride, 0, screenWidth, colour);
    return 1;
}

void FrameBufferDevice::ReleaseBackBuffer() {
    if (!backBuffer) return;
    if (target == backBuffer) target = screen;
    std::free(backBuffer);
    backBuffer = nullptr;
    backBufferLines = 0;
}

int FrameBufferDevice::FreeBackBuffer() {
    if (!backBuffer) {
        eWarning("Could not free empty Back buffer...\n");
        return 0;
    }
    SelectBackBuffer(false);
    ReleaseBackBuffer();
    return 1;
}

int FrameBufferDevice::BlitBackBuffer(int line) {
    PresentAfter present{*this};
    if (!backBuffer) {
        eWarning("Error...no Back buffer.\n");
        return 0;
    }
    // A plain row-for-row copy into the layer, limited to the screen rows
    // that exist; the two have lines of the same length.
    Surface s = TargetSurface(true);
    long long first = std::max<long long>(0, line);
    long long last = std::min<long long>(static_cast<long long>(line) + backBufferLines, s.lines);
    if (!s.base || first >= last) return 1;
    std::memcpy(s.base + first * s.stride, backBuffer + (first - line) * s.stride,
                static_cast<size_t>(last - first) * s.stride);
    return 1;
}

int FrameBufferDevice::SelectBackBuffer(bool useBackBuffer) {
    target = (useBackBuffer && backBuffer) ? backBuffer : screen;
    return 1;
}

int FrameBufferDevice::ReadPixel(int x, int y, unsigned char* out) {
    if (!out) {
        eWarning("NULL pointer in ReadPixel\n");
        return -1;
    }
    int size = BytesPerPixel();
    // The back buffer while one is selected, else the screen as it is.
    Surface s = target == backBuffer && backBuffer ? TargetSurface(false) : ScreenSurface();
    // Outside the surface (or with nothing mapped) reads as transparent.
    if (!s.base || x < 0 || y < 0 || x >= s.columns || y >= s.lines) {
        std::memset(out, 0, static_cast<size_t>(size));
        return 0;
    }
    std::memcpy(out, s.base + static_cast<size_t>(y) * s.stride + static_cast<size_t>(x) * size,
                static_cast<size_t>(size));
    return 0;
}

void FrameBufferDevice::SetRawColor(int index, int colour) {
    if (index < 0 || index > 255) return;
    rawColors[index] = Rotate(colour);
}

// The part of a width x height picture at x, y that lies on the surface,
// in the picture's own coordinates (64-bit, so no placement overflows).
namespace {
struct Span {
    long long i0, i1, j0, j1;
};
Span ClipTo(int columns, int lines, int width, int height, int x, int y) {
    return {std::max<long long>(0, -static_cast<long long>(x)),
            std::min<long long>(width, static_cast<long long>(columns) - x),
            std::max<long long>(0, -static_cast<long long>(y)),
            std::min<long long>(height, static_cast<long long>(lines) - y)};
}
}  // namespace

void FrameBufferDevice::BlitBitmap(unsigned char* data, int width, int height, int x, int y) {
    eTrace("      BlitBitmap: w=%d, h=%d, xpos=%d, ypos=%d\n", width, height, x, y);
    PresentAfter present{*this};
    Surface s = TargetSurface(false);
    if (!s.base || !data || width <= 0 || height <= 0) return;
    const Span c = ClipTo(s.columns, s.lines, width, height, x, y);
    for (long long j = c.j0; j < c.j1; ++j) {
        const unsigned char* src = data + j * width;
        unsigned char* row = s.base + (y + j) * s.stride;
        for (long long i = c.i0; i < c.i1; ++i) {
            unsigned v = src[i];
            if (v == 0) continue;  // transparent
            if (bpp == 32) {
                Store32(row + 4 * (x + i), rawColors[v >= 0xF0 ? (v & 0x0F) : v]);
            } else {
                row[x + i] = static_cast<unsigned char>(v);
            }
        }
    }
}

void FrameBufferDevice::BlitARGB(const uint32_t* data, int width, int height, int x, int y) {
    eTrace("      BlitARGB: w=%d, h=%d, xpos=%d, ypos=%d\n", width, height, x, y);
    PresentAfter present{*this};
    if (bpp != 32) {
        eWarning("BlitARGB needs a 32-bit screen, this one has %d bits.\n", bpp);
        return;
    }
    Surface s = TargetSurface(false);
    if (!s.base || !data || width <= 0 || height <= 0) return;
    const Span c = ClipTo(s.columns, s.lines, width, height, x, y);
    for (long long j = c.j0; j < c.j1; ++j) {
        const uint32_t* src = data + j * width;
        unsigned char* row = s.base + (y + j) * s.stride;
        for (long long i = c.i0; i < c.i1; ++i)
            if (src[i] >> 24) Store32(row + 4 * (x + i), src[i]);
    }
}

int FrameBufferDevice::Lock() {
    const int result = mutex.Lock();
    if (result == 0) owner = std::this_thread::get_id();
    return result;
}

int FrameBufferDevice::UnLock() {
    // Only the holder's unlock ends a span; another thread's is refused.
    if (owner.load() != std::this_thread::get_id()) return mutex.Unlock();
    owner = std::thread::id();
    if (created) Present();
    if (created && !noBlit) {
        for (int attempt = 0; attempt < kBlitAttempts; ++attempt) {
            if (platform::Ioctl(fd, ids::kFBIO_BLIT, nullptr) >= 0) break;
            // A driver that does not know the request: its mapped memory is
            // the screen, and asking again only fills the log.
            if (errno == ENOTTY || errno == EOPNOTSUPP) {
                noBlit = true;
                eDebug("The framebuffer has no FBIO_BLIT: drawings show as they are made\n");
                break;
            }
            eWarning("Error FBIO_BLIT not availble.\n");
        }
    }
    return mutex.Unlock();
}

int FrameBufferDevice::GetBPP() { return bpp; }
