#include "EmulatedFrameBuffer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "PngWriter.h"
#include "platform/Constants.h"

namespace {
constexpr uint8_t kCanary = 0xA5;

size_t RoundUp(size_t n, size_t page) { return (n + page - 1) / page * page; }
}  // namespace

constexpr uint8_t EmulatedFrameBuffer::kBackdrop[3];

EmulatedFrameBuffer::EmulatedFrameBuffer(const FrameBufferConfig& config) : config_(config) {
    if (config_.lineLength <= 0) config_.lineLength = std::max(0, config_.xres) * BytesPerPixel();
    long memory = config_.memoryBytes > 0 ? config_.memoryBytes
                                          : long(config_.lineLength) * std::max(0, config_.yres);
    memoryBytes_ = size_t(std::max(0L, memory));
    pageBytes_ = size_t(sysconf(_SC_PAGESIZE));
    fileBytes_ = RoundUp(std::max<size_t>(memoryBytes_, 1), pageBytes_);
    failingBlits_ = config_.failingBlits;
    pngFolder_ = config_.pngFolder;
    shadow_.assign(memoryBytes_, 0);
    memfd_ = memfd_create("teko-fb", MFD_CLOEXEC);
    if (memfd_ < 0 || ftruncate(memfd_, off_t(fileBytes_)) != 0) return;
    void* view = mmap(nullptr, fileBytes_, PROT_READ | PROT_WRITE, MAP_SHARED, memfd_, 0);
    if (view == MAP_FAILED) return;
    view_ = static_cast<uint8_t*>(view);
    std::memset(view_ + memoryBytes_, kCanary, fileBytes_ - memoryBytes_);
}

EmulatedFrameBuffer::~EmulatedFrameBuffer() {
    // Mappings the daemon still holds are left alone: unmapping them under
    // it would turn its pointer into a crash instead of a leak.
    for (int fd : fds_) ::close(fd);
    if (view_) munmap(view_, fileBytes_);
    if (memfd_ >= 0) ::close(memfd_);
}

int EmulatedFrameBuffer::Open(int flags) {
    if (!view_) {
        errno = ENOMEM;
        return -1;
    }
    int fd = fcntl(memfd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    fds_.insert(fd);
    return fd;
}

bool EmulatedFrameBuffer::Owns(int fd) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return fds_.count(fd) != 0;
}

int EmulatedFrameBuffer::Close(int fd) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!fds_.erase(fd)) {
            errno = EBADF;
            return -1;
        }
    }
    return ::close(fd);
}

int EmulatedFrameBuffer::OpenDescriptors() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(fds_.size());
}

int EmulatedFrameBuffer::Mappings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return int(mappings_.size());
}

int EmulatedFrameBuffer::Ioctl(int fd, unsigned long request, void* arg) {
    bool failVar, failFix;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failVar = config_.failVScreenInfo;
        failFix = config_.failFScreenInfo;
    }
    if (request == FBIOGET_VSCREENINFO) {
        if (failVar || !arg) {
            errno = EINVAL;
            return -1;
        }
        fb_var_screeninfo var{};
        var.xres = var.xres_virtual = __u32(config_.xres);
        var.yres = var.yres_virtual = __u32(config_.yres);
        var.bits_per_pixel = __u32(config_.bitsPerPixel);
        if (config_.bitsPerPixel == 32) {
            var.blue = {0, 8, 0};
            var.green = {8, 8, 0};
            var.red = {16, 8, 0};
            var.transp = {24, 8, 0};
        } else {
            var.red = var.green = var.blue = {0, 8, 0};
        }
        std::memcpy(arg, &var, sizeof var);
        return 0;
    }
    if (request == FBIOGET_FSCREENINFO) {
        if (failFix || !arg) {
            errno = EINVAL;
            return -1;
        }
        fb_fix_screeninfo fix{};
        std::snprintf(fix.id, sizeof fix.id, "TEKO emulated");
        fix.smem_len = __u32(memoryBytes_);
        fix.type = FB_TYPE_PACKED_PIXELS;
        fix.visual = config_.bitsPerPixel == 32 ? FB_VISUAL_TRUECOLOR : FB_VISUAL_PSEUDOCOLOR;
        fix.line_length = __u32(config_.lineLength);
        std::memcpy(arg, &fix, sizeof fix);
        return 0;
    }
    if (request == ids::kFBIO_BLIT && !config_.noBlit) return Blit();
    if (request == ids::kFBIO_BLIT) ++requests_;
    errno = ENOTTY;
    return -1;
}

void* EmulatedFrameBuffer::Mmap(size_t length, int prot, int flags, int fd, off_t offset) {
    if (config_.failMmap || offset != 0 || length == 0 || length > memoryBytes_) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    // Reserve guard pages around the mapping so that stray writes fault.
    size_t bytes = RoundUp(length, pageBytes_) + 2 * pageBytes_;
    void* base = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) return MAP_FAILED;
    void* addr = mmap(static_cast<uint8_t*>(base) + pageBytes_, length, prot, flags | MAP_FIXED, fd, 0);
    if (addr == MAP_FAILED) {
        munmap(base, bytes);
        return MAP_FAILED;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    mappings_[addr] = Reservation{base, bytes};
    return addr;
}

int EmulatedFrameBuffer::Munmap(void* addr, size_t length) {
    Reservation r{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = mappings_.find(addr);
        if (it == mappings_.end()) {
            errno = EINVAL;
            return -1;
        }
        r = it->second;
        mappings_.erase(it);
    }
    return munmap(r.base, r.bytes);
}

void EmulatedFrameBuffer::SetFailingBlits(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    failingBlits_ = count;
}

void EmulatedFrameBuffer::SetBlitFailurePeriod(int period) {
    std::lock_guard<std::mutex> lock(mutex_);
    blitFailurePeriod_ = period > 0 ? period : 0;
    blitsInPeriod_ = 0;
}

void EmulatedFrameBuffer::SetScreenInfoFailures(bool var, bool fix) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.failVScreenInfo = var;
    config_.failFScreenInfo = fix;
}

void EmulatedFrameBuffer::SetPngFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    pngFolder_ = folder;
}

void EmulatedFrameBuffer::SetBlitObserver(BlitObserver observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    observer_ = std::move(observer);
}

int EmulatedFrameBuffer::VisibleLines() const {
    if (config_.lineLength <= 0) return 0;
    return int(std::min<size_t>(size_t(Height()), memoryBytes_ / size_t(config_.lineLength)));
}

int EmulatedFrameBuffer::Blit() {
    BlitEvent event{0, -1, -1, std::string()};
    BlitObserver observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++requests_;
        const bool periodic = blitFailurePeriod_ > 0 && ++blitsInPeriod_ % blitFailurePeriod_ == 0;
        if (failingBlits_ != 0 || periodic) {
            if (failingBlits_ > 0) --failingBlits_;
            ++failed_;
            errno = EINVAL;
            return -1;
        }
        event.number = ++blits_;
        TakeChanges(event);
        observer = observer_;
    }
    if (observer) observer(event);
    return 0;
}

void EmulatedFrameBuffer::PaintRect(int x, int y, int width, int height, bool opaque) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int bytes = BytesPerPixel();
    const long columns = std::min<long>(Width(), config_.lineLength / bytes);
    const long lines = long(memoryBytes_ / size_t(std::max(1, config_.lineLength)));
    const long right = std::min<long>(long(x) + width, columns), bottom = std::min<long>(long(y) + height, lines);
    for (long row = std::max(0, y); view_ && row < bottom; ++row) {
        uint8_t* at = view_ + size_t(row) * config_.lineLength;
        for (long column = std::max(0, x); column < right; ++column) {
            if (bytes == 1) {
                at[column] = opaque ? kMenuIndex : 0;
            } else {
                const uint32_t word = opaque ? kMenuWord : 0;
                std::memcpy(at + column * 4, &word, 4);
            }
        }
    }
}

void EmulatedFrameBuffer::Capture() {
    BlitEvent event{0, -1, -1, std::string()};
    BlitObserver observer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // One comparison of the whole memory first: most looks find nothing.
        if (!view_ || std::memcmp(view_, shadow_.data(), memoryBytes_) == 0) return;
        event.number = ++blits_;
        if (!TakeChanges(event)) return;
        observer = observer_;
    }
    if (observer) observer(event);
}

bool EmulatedFrameBuffer::TakeChanges(BlitEvent& event) {
    size_t stride = size_t(config_.lineLength);
    size_t visible = std::min<size_t>(stride, size_t(Width()) * BytesPerPixel());
    for (int row = 0; view_ && row < VisibleLines(); ++row) {
        size_t at = row * stride;
        if (std::memcmp(view_ + at, shadow_.data() + at, visible) == 0) continue;
        if (event.firstRow < 0) event.firstRow = row;
        event.lastRow = row;
    }
    if (event.firstRow < 0) return false;
    size_t from = event.firstRow * stride;
    size_t to = std::min(memoryBytes_, (event.lastRow + 1) * stride);
    std::memcpy(shadow_.data() + from, view_ + from, to - from);
    if (!pngFolder_.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "/%06d.png", event.number);
        if (WritePng(pngFolder_ + name)) event.png = pngFolder_ + name;
    }
    return true;
}

uint32_t EmulatedFrameBuffer::Word(int x, int y) const {
    if (!view_ || x < 0 || y < 0) return 0;
    size_t at = size_t(y) * config_.lineLength + size_t(x) * 4;
    if (at + 4 > memoryBytes_) return 0;
    uint32_t word;
    std::memcpy(&word, view_ + at, 4);
    return word;
}

uint8_t EmulatedFrameBuffer::Index(int x, int y) const {
    if (!view_ || x < 0 || y < 0) return 0;
    size_t at = size_t(y) * config_.lineLength + size_t(x);
    return at < memoryBytes_ ? view_[at] : 0;
}

uint32_t EmulatedFrameBuffer::Argb(int x, int y) const {
    return BytesPerPixel() == 4 ? Word(x, y) : PaletteArgb(Index(x, y));
}

bool EmulatedFrameBuffer::TailIntact() const {
    if (!view_) return true;
    for (size_t i = memoryBytes_; i < fileBytes_; ++i) {
        if (view_[i] != kCanary) return false;
    }
    return true;
}

bool EmulatedFrameBuffer::WritePng(const std::string& path) const {
    return WriteRgbPng(path, Width(), Height(),
                       ComposeRgb(view_, memoryBytes_, config_.bitsPerPixel, config_.lineLength, Width(), Height(),
                                  config_.palette));
}

std::vector<uint8_t> EmulatedFrameBuffer::ComposeRgb(const uint8_t* memory, size_t bytes, int bitsPerPixel,
                                                     int lineLength, int width, int height,
                                                     const Palette::Colours& palette) {
    const int bpp = bitsPerPixel == 32 ? 4 : 1;
    width = std::max(width, 0), height = std::max(height, 0);
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    int columns = lineLength > 0 ? std::min(width, lineLength / bpp) : 0;
    int lines = lineLength > 0 ? int(std::min<size_t>(size_t(height), bytes / size_t(lineLength))) : 0;
    if (!memory) columns = lines = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t argb = 0;
            if (x < columns && y < lines) {
                const uint8_t* at = memory + size_t(y) * lineLength + size_t(x) * bpp;
                if (bpp == 4)
                    std::memcpy(&argb, at, 4);
                else
                    argb = palette[*at];
            }
            unsigned alpha = argb >> 24;
            uint8_t* out = &rgb[(size_t(y) * size_t(width) + size_t(x)) * 3];
            if (alpha == 0) {  // most of a subtitle screen
                std::memcpy(out, kBackdrop, 3);
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                unsigned value = (argb >> (16 - 8 * c)) & 0xFF;
                out[c] = uint8_t((value * alpha + kBackdrop[c] * (255 - alpha) + 127) / 255);
            }
        }
    }
    return rgb;
}
