// The images are found by region id. A region that changes replaces its
// image; a page with more regions than are kept, or of more bytes,
// replaces the images used longest ago.
#include "render/DvbImageCache.h"

#include <cstring>
#include <new>

#include "platform/Log.h"

namespace render {
namespace {

// Images kept: more regions than a page usually has (one per line or
// speaker), and at most the bytes of two full HD regions' codes and images.
constexpr size_t kMaxImages = 8;
constexpr size_t kMaxHeldBytes = 16u << 20;

size_t code_bytes(const pages::DvbRegion& region) { return size_t(region.width) * size_t(region.height); }

bool same_key(const ComposedImage& c, const pages::DvbRegion& region, const Display& d, const Placement& screen,
              int bpp) {
    return c.id == region.id && c.bpp == bpp && c.x == region.x && c.y == region.y && c.width == region.width &&
           c.height == region.height && c.display.width == d.width && c.display.height == d.height &&
           c.screen == screen;
}

// The colours that the screen's depth looks up: ARGB words on 32 bits,
// palette indexes and the palette on the others.
bool same_colours(const ComposedImage& c, const pages::DvbRegion& region) {
    if (c.bpp == 32) return std::memcmp(c.argb, region.argb, sizeof c.argb) == 0;
    return std::memcmp(c.index, region.index, sizeof c.index) == 0 &&
           std::memcmp(c.palette, region.palette, sizeof c.palette) == 0;
}

ComposedImage* find(ImageBuffer& buffer, int id) {
    for (ComposedImage& c : buffer.images)
        if (c.id == id) return &c;
    return nullptr;
}

size_t held(const ImageBuffer& buffer) {
    size_t n = 0;
    for (const ComposedImage& c : buffer.images) n += c.held;
    return n;
}

// Frees images used longest ago, all but `keep`, until `more` bytes fit.
void make_room(ImageBuffer& buffer, const ComposedImage* keep, size_t more) {
    while (held(buffer) + more > kMaxHeldBytes) {
        ComposedImage* oldest = nullptr;
        for (ComposedImage& c : buffer.images)
            if (&c != keep && c.held && (!oldest || c.lastUse < oldest->lastUse)) oldest = &c;
        if (!oldest) return;
        oldest->codes.reset();
        oldest->image.reset();
        oldest->imageBytes = oldest->held = 0;
        oldest->id = -1;
    }
}

// The entry for `id`: its own, a free one, or the one used longest ago.
ComposedImage& entry_for(ImageBuffer& buffer, int id) {
    if (ComposedImage* c = find(buffer, id)) return *c;
    if (ComposedImage* c = find(buffer, -1)) return *c;
    if (buffer.images.size() < kMaxImages) {
        buffer.images.emplace_back();
        return buffer.images.back();
    }
    ComposedImage* oldest = &buffer.images[0];
    for (ComposedImage& c : buffer.images)
        if (c.lastUse < oldest->lastUse) oldest = &c;
    return *oldest;
}

bool grow(std::unique_ptr<unsigned char[]>& to, size_t& have, size_t bytes) {
    if (bytes <= have) return true;
    to.reset(new (std::nothrow) unsigned char[bytes]);
    have = to ? bytes : 0;
    return bool(to);
}

}  // namespace

unsigned char* KeptImage(ImageBuffer& buffer, const pages::DvbRegion& region, const Display& d,
                         const Placement& screen, int bpp, std::vector<unsigned char>& changed) {
    ComposedImage* c = find(buffer, region.id);
    if (!c || !c->codes || !same_key(*c, region, d, screen, bpp) || !same_colours(*c, region)) return nullptr;
    const size_t width = size_t(region.width);
    changed.resize(size_t(region.height));
    for (size_t y = 0; y < changed.size(); ++y) {
        unsigned char* kept = c->codes.get() + y * width;
        const unsigned char* now = region.codes + y * width;
        changed[y] = std::memcmp(kept, now, width) != 0;
        if (changed[y]) std::memcpy(kept, now, width);
    }
    c->lastUse = ++buffer.uses;
    return c->image.get();
}

unsigned char* NewImage(ImageBuffer& buffer, const pages::DvbRegion& region, const Display& d,
                        const Placement& screen, int bpp, size_t bytes) {
    ComposedImage& c = entry_for(buffer, region.id);
    const size_t codes = code_bytes(region);
    // The codes are kept only while the image is theirs: an image that
    // cannot be had is not to be found.
    c.codes.reset();
    c.id = region.id;
    c.held = c.imageBytes;
    make_room(buffer, &c, codes + (bytes > c.imageBytes ? bytes - c.imageBytes : 0));
    if (!grow(c.image, c.imageBytes, bytes)) {
        c.held = 0;
        eWarning("ERROR: Could not allocate the screen image of region %d.\n", region.id);
        return nullptr;
    }
    c.held = c.imageBytes;
    c.lastUse = ++buffer.uses;
    // Past the bytes kept the image is composed all the same, only not kept.
    if (held(buffer) + codes > kMaxHeldBytes) return c.image.get();
    c.codes.reset(new (std::nothrow) unsigned char[codes ? codes : 1]);
    if (!c.codes) return c.image.get();
    std::memcpy(c.codes.get(), region.codes, codes);
    c.held += codes;
    c.bpp = bpp;
    c.x = region.x, c.y = region.y;
    c.width = region.width, c.height = region.height;
    c.display = d, c.screen = screen;
    std::memcpy(c.argb, region.argb, sizeof c.argb);
    std::memcpy(c.index, region.index, sizeof c.index);
    std::memcpy(c.palette, region.palette, sizeof c.palette);
    return c.image.get();
}

}  // namespace render
