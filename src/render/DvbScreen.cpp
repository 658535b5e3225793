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
    if (options_.collisionDetection == 0) return true;
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

void DvbScreen::Show(const pages::DvbPage& page) {
    if (page.regions.empty() || !display_) return Clear();
    Span span(*display_);
    eTrace("CLEAR\n");
    ClearLocked();
    const Display d{page.displayWidth, page.displayHeight};
    const Display screen{display_->Width(), display_->Height()};
    for (const pages::DvbRegion& region : page.regions) {
        ScreenBox b;
        if (!RegionBox(d, screen, region, b)) continue;
        // The box stays on the screen: its rows are what a clear fills.
        Grow(b);
        if (b.Empty() || !region.codes || !OkToDraw()) continue;
        ComposeRegion(*display_, d, screen, region, image_);
    }
}

}  // namespace render
