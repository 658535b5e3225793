#include "render/DvbScreen.h"

#include <algorithm>

#include "platform/Log.h"

namespace render {

namespace {

constexpr ScreenBox kNothing{kMaxScreenWidth, kMaxScreenHeight, 0, 0};

// One page change is one lock span, so that it reaches the screen whole.
struct Span {
    explicit Span(IDisplayDevice& d) : display(d) { display.Lock(); }
    ~Span() { display.UnLock(); }
    IDisplayDevice& display;
};

}  // namespace

void DvbScreen::Start(IDisplayDevice* display, const config::DvbOptions& options) {
    display_ = display;
    options_ = options;
    box_ = kNothing;
}

bool DvbScreen::OkToDraw() const {
    if (!display_) return false;
    // Only 1 holds clears back; the device clears nothing but its own pixels.
    if (options_.collisionDetection != 1) return true;
    return !other_.Shows(*display_, box_.top, box_.bottom);
}

void DvbScreen::Grow(const ScreenBox& b) {
    box_.left = std::min(box_.left, b.left);
    box_.top = std::min(box_.top, b.top);
    box_.right = std::max(box_.right, b.right);
    box_.bottom = std::max(box_.bottom, b.bottom);
}

// The rows of what was drawn, across the screen: the device leaves the
// pixels of other displays on them as they are.
void DvbScreen::ClearLocked() {
    if (box_.left < box_.right && OkToDraw()) {
        box_.right = display_->Width();
        eTrace("  BBOX clear %d:%d -> %d:%d\n", box_.left, box_.top, box_.right, box_.bottom);
        const int top = std::max(box_.top, 0), bottom = std::min(box_.bottom, display_->Height());
        if (bottom > top) display_->DrawFilledRect(0, top, display_->Width(), bottom - top, 0);
    }
    box_ = kNothing;
}

void DvbScreen::Clear() {
    if (!display_ || box_.left >= box_.right) {
        box_ = kNothing;
        return;
    }
    Span span(*display_);
    ClearLocked();
}

// The union of what `regions` of a page for display `d` cover where
// `place` puts them; `shown`: the parts that show, each counted only where
// something of it lies on the screen.
ScreenBox DvbScreen::Extent(const Display& d, const std::vector<pages::DvbRegion>& regions, const Placement& place,
                            bool shown) const {
    ScreenBox all = kNothing;
    for (const pages::DvbRegion& region : regions) {
        ScreenBox b;
        if (!RegionBox(d, place, region, b) || (shown && b.Empty())) continue;
        all = {std::min(all.left, b.left), std::min(all.top, b.top), std::max(all.right, b.right),
               std::max(all.bottom, b.bottom)};
    }
    return all;
}

// The part of each region whose pixels show (not transparent), in display
// pixels; a region where none shows has none. Looked for once a page: the
// placement does not change it.
std::vector<pages::DvbRegion> DvbScreen::ShownParts(const pages::DvbPage& page) const {
    std::vector<pages::DvbRegion> parts;
    const bool words = display_->GetBPP() == 32;
    for (const pages::DvbRegion& region : page.regions) {
        if (!region.codes) continue;
        int left = region.width, top = region.height, right = -1, bottom = -1;
        for (int y = 0; y < region.height; ++y) {
            const unsigned char* row = region.codes + long(y) * region.width;
            for (int x = 0; x < region.width; ++x) {
                // On one-byte screens 0xF0 is the default CLUT's transparent entry.
                const uint8_t index = region.index[row[x]];
                const bool shows = words ? (region.argb[row[x]] >> 24) != 0 : index != 0 && index != 0xF0;
                if (!shows) continue;
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
        }
        if (right < 0) continue;
        parts.emplace_back();
        pages::DvbRegion& part = parts.back();
        part.x = region.x + left, part.y = region.y + top;
        part.width = right - left + 1, part.height = bottom - top + 1;
    }
    return parts;
}

// Where the viewer's settings put the page: zoomed about the bottom centre
// of what it covers, moved up or down, kept on the screen.
Placement DvbScreen::Place(const pages::DvbPage& page, const std::vector<pages::DvbRegion>& shown) const {
    const int width = display_->Width(), height = display_->Height();
    Placement place(Display{width, height});
    // As broadcast the display maps onto the screen and every region box
    // already lies on it: nothing to measure.
    if (options_.zoom == 100 && options_.yOffset == 0) return place;
    // The subtitle is what shows of it: a region is often the screen's
    // width, its text in the middle.
    const Display d{page.displayWidth, page.displayHeight};
    ScreenBox e = Extent(d, shown, place, true);
    if (e.Empty()) e = Extent(d, page.regions, place, false);
    if (e.Empty()) return place;
    const long zoom = options_.zoom;
    place.width = int(width * zoom / 100), place.height = int(height * zoom / 100);
    const long cx = (e.left + e.right) / 2, by = e.bottom;
    place.x = int(cx - cx * zoom / 100);
    place.y = int(by - by * zoom / 100) + int(long(options_.yOffset) * height / kScreenHeight);
    // On the screen: what the page covers, unclipped, inside it (its top
    // and left when it is larger than the screen).
    Placement open = place;
    open.visibleWidth = open.visibleHeight = 1 << 20;
    open.x = open.y = 0;
    ScreenBox z = Extent(d, shown, open, true);
    if (z.Empty()) z = Extent(d, page.regions, open, false);
    const int right = z.right + place.x, bottom = z.bottom + place.y;
    if (right > width) place.x -= right - width;
    if (bottom > height) place.y -= bottom - height;
    if (z.left + place.x < 0) place.x = -z.left;
    if (z.top + place.y < 0) place.y = -z.top;
    return place;
}

// Whether the page may show now; with CollisionDetection 2 it moves clear
// of another display over its band (or waits when it fits nowhere).
bool DvbScreen::MayShow(const pages::DvbPage& page, Placement& place) const {
    if (options_.collisionDetection == 0) return true;
    const ScreenBox e = Extent(Display{page.displayWidth, page.displayHeight}, page.regions, place, false);
    if (e.Empty()) return true;
    if (options_.collisionDetection == 1) return !other_.Shows(*display_, e.top, e.bottom);
    int shift = 0;
    if (!other_.Avoid(*display_, e.left, e.top, e.right, e.bottom, shift)) return false;
    place.y += shift;
    return true;
}

void DvbScreen::Show(const pages::DvbPage& page) {
    if (page.regions.empty() || !display_) return Clear();
    Span span(*display_);
    eTrace("CLEAR\n");
    ClearLocked();
    // Looked for once the old page is gone: a device that cannot tell its
    // own pixels would take it for another display.
    const bool measured = options_.zoom != 100 || options_.yOffset != 0 || options_.background;
    const std::vector<pages::DvbRegion> shown = measured ? ShownParts(page) : std::vector<pages::DvbRegion>();
    Placement place = Place(page, shown);
    const bool shows = MayShow(page, place);
    const Display d{page.displayWidth, page.displayHeight};
    if (shows && options_.background) {
        const ScreenBox o = Extent(d, shown, place, true);
        const int colour = display_->GetBPP() == 32 ? options_.backgroundColor : options_.paletteBackgroundColor;
        if (!o.Empty()) {
            display_->DrawFilledRect(o.left, o.top, o.right - o.left - 1, o.bottom - o.top, colour);
            Grow(o);
        }
    }
    for (const pages::DvbRegion& region : page.regions) {
        ScreenBox b;
        if (!RegionBox(d, place, region, b)) continue;
        // The box stays on the screen: its rows are what a clear fills.
        Grow(b);
        if (b.Empty() || !region.codes || !shows) continue;
        ComposeRegion(*display_, d, place, region, image_);
    }
}

}  // namespace render
