#include "render/TeletextScreen.h"

#include <algorithm>

#include "display/IDisplayDevice.h"
#include "platform/Log.h"

namespace render {

namespace {

// The layout's geometry on a 720 x 576 screen.
constexpr int kLeftMargin = 90;
constexpr int kBottomBaseline = 530;  // baseline of the bottom slot, before startYPos
constexpr int kBottomSlotRow = 21;    // row index of the bottom slot's own row
// The tallest and deepest glyphs of a Teletext text fix the line metrics.
const char kMeasureSample[] = "[]|{}\\yYjJ";
constexpr int kFourThree = 4;
constexpr int kBottomGap = 3;  // lines below the deepest descender, room for the outline
// EN 300 706 §12.2: the eight alpha colours, 0xRRGGBB, in code order.
constexpr int kTeletextRgb[8] = {0x000000, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// Coordinates handed to the display come from settings of any size; far
// beyond the screen they all mean the same, and bounding them keeps the
// arithmetic on both sides free of overflow.
int Bound(long long v) { return int(std::clamp(v, -32768LL, 32767LL)); }

// A length of the 720 x 576 layout on a screen of `size` along that axis.
int Scaled(long long v, int size, int layoutSize) { return Bound(v * size / layoutSize); }

std::string Joined(const pages::TeletextRow& row) {
    std::string text;
    for (const pages::TextRun& run : row.runs) text += run.text;
    return text;
}

}  // namespace

void TeletextScreen::Start(IDisplayDevice* display, const config::TeletextStyle& style, int videoFormat) {
    display_ = display;
    screenWidth_ = display ? display->Width() : kScreenWidth;
    screenHeight_ = display ? display->Height() : kScreenHeight;
    const int h = screenHeight_, w = screenWidth_;
    const config::TeletextLayout& format = videoFormat == kFourThree ? style.fourThree : style.wide;
    if (videoFormat == kFourThree)
        eDebug("Drawing using 4:3 settings...\n");
    else
        eDebug("Drawing using 16:9 settings...\n");
    TeletextLayout& l = layout_;
    l.fontSize = Scaled(format.fontSize, h, kScreenHeight);
    l.rowSpace = Scaled(format.rowSpace, h, kScreenHeight);
    l.startYPos = Scaled(format.startYPos, h, kScreenHeight);
    l.extraYSize = Scaled(format.extraYSize, h, kScreenHeight);
    l.startXPos = Scaled(style.startXPos, w, kScreenWidth);
    l.outlineSize = style.outlineSize > 0 ? std::max(1, Scaled(style.outlineSize, h, kScreenHeight)) : 0;
    l.centerText = style.centerText;
    l.useBackground = style.useBackground;
    const bool words = display != nullptr && display->GetBPP() == 32;
    l.outlineColor = words ? style.outlineColor : style.paletteOutlineColor;
    l.backgroundColor = words ? style.backgroundColor : style.paletteBackgroundColor;
    l.textColor = words ? style.textColor : style.paletteTextColor;
    l.collisionDetection = style.collisionDetection;
    // As broadcast, white in the configured text colour; on one-byte
    // screens through the configured indexes, if any.
    for (int c = 0; c < 8; ++c) {
        l.runColors[c] = l.textColor;
        if (style.teletextColors != 1) continue;
        if (words && c != pages::kWhite) l.runColors[c] = int(uint32_t(kTeletextRgb[c]) << 8 | 0xFF);
        if (!words && style.paletteTeletextColorsSet) l.runColors[c] = style.paletteTeletextColors[size_t(c)];
    }
    other_.SetOwnColours(l.textColor, l.outlineColor, l.backgroundColor);

    int width = 0;
    l.textHeight = l.textDepth = 0;
    if (display) display->GetStringSize(l.fontSize, kMeasureSample, width, l.textHeight, l.textDepth);
    // Half the extra size above the tallest glyph, half of it below the
    // deepest descender, plus a few lines there for the outline.
    l.textHeight += l.extraYSize / 2;
    l.textDepth += kBottomGap + l.extraYSize / 2;
    highestRow_ = screenHeight_;
    lowestRow_ = 0;
    shown_ = pages::TeletextPage();
    pending_ = false;

    eDebug("Drawing TextColor: %x\n", l.textColor);
    eDebug("Drawing OutlineColor: %x\n", l.outlineColor);
    eDebug("Drawing BackgroundColor: %x\n", l.backgroundColor);
    eDebug("CollisionDetection: %d\n", l.collisionDetection);
}

// Only 1 holds clears back; the device clears nothing but its own pixels.
bool TeletextScreen::OkToDraw() const {
    if (layout_.collisionDetection != 1) return true;
    return !other_.Shows(*display_, highestRow_, lowestRow_);
}

void TeletextScreen::ClearLocked() {
    eTrace("CLEAR Subtitle page.\n");
    if (highestRow_ < lowestRow_)
        display_->DrawFilledRect(0, highestRow_, screenWidth_, lowestRow_ - highestRow_, 0);
    highestRow_ = screenHeight_;
    lowestRow_ = 0;
}

void TeletextScreen::Clear() {
    shown_.rows.clear();
    if (!display_ || highestRow_ >= lowestRow_) {
        pending_ = false;
        return;
    }
    if (!OkToDraw()) {
        pending_ = true;
        return;
    }
    display_->Lock();
    ClearLocked();
    display_->UnLock();
    pending_ = false;
}

void TeletextScreen::Show(const pages::TeletextPage& page) {
    if (!display_) return;
    if (!pending_ && page.rows == shown_.rows) return;
    if (page.rows.empty()) {
        shown_ = page;
        return Clear();
    }
    shown_ = page;
    std::vector<LineBox> boxes;
    for (const pages::TeletextRow& row : page.rows) boxes.push_back(Place(row));
    int shift = 0;
    if (!Fits(boxes, shift)) {
        for (const pages::TeletextRow& row : page.rows) eTrace("Subtitle@%d:%s\n", row.row + 1, row.bytes.c_str());
        eTrace("...don't draw this, something on screen.\n");
        pending_ = true;
        return;
    }
    display_->Lock();
    ClearLocked();
    for (size_t k = 0; k < boxes.size(); ++k) DrawRow(page.rows[k], boxes[k], shift);
    display_->UnLock();
    pending_ = false;
}

// Whether the page may be drawn now, and the lines it moves by to keep
// clear of another display (CollisionDetection 2).
bool TeletextScreen::Fits(const std::vector<LineBox>& boxes, int& shift) const {
    shift = 0;
    if (layout_.collisionDetection != 2) return OkToDraw();
    long long left = screenWidth_, right = 0;
    int top = screenHeight_, bottom = 0;
    for (const LineBox& b : boxes) {
        if (b.lines <= 0) continue;
        left = std::min(left, b.x - layout_.textDepth / 2);
        right = std::max(right, b.x + b.width + layout_.textDepth / 2);
        top = std::min(top, b.top);
        bottom = std::max(bottom, b.top + b.lines);
    }
    if (top >= bottom) return true;
    return other_.Avoid(*display_, Bound(left), top, Bound(right), bottom, shift);
}

TeletextScreen::LineBox TeletextScreen::Place(const pages::TeletextRow& row) const {
    const TeletextLayout& l = layout_;
    LineBox box;
    int h = 0, d = 0;
    box.text = Joined(row);
    display_->GetStringSize(l.fontSize, box.text, box.width, h, d);
    if (l.centerText == 1) {
        box.x = (screenWidth_ - (long long)box.width) / 2 + 1;
        box.limit = screenWidth_;
    } else {
        box.x = (long long)l.startXPos + Scaled(kLeftMargin, screenWidth_, kScreenWidth);
        box.limit = screenWidth_ - box.x;
    }
    const long long lines = (long long)l.textHeight + l.textDepth;
    if (lines <= 0 || lines > screenHeight_) {
        eWarning("Subtitle line of %lld lines does not fit the screen.\n", lines);
        return box;
    }
    box.lines = int(lines);
    box.top = BoxTop(row.row, box.lines);
    return box;
}

// Slot (i - 21) / 2, truncating toward zero, counts line pitches up from the
// bottom slot. Large offsets or metrics would put the box off the screen;
// it is shifted back onto the screen so the blit stays inside it.
int TeletextScreen::BoxTop(int rowIndex, int boxHeight) const {
    const TeletextLayout& l = layout_;
    long long slot = (rowIndex - kBottomSlotRow) / 2;
    long long pitch = (long long)l.textHeight + l.textDepth + l.rowSpace;
    long long baseline = pitch * slot + l.startYPos + Scaled(kBottomBaseline, screenHeight_, kScreenHeight);
    long long top = baseline - l.textHeight;
    top = std::min(top, (long long)screenHeight_ - boxHeight);
    return int(std::max(top, 0LL));
}

// The runs one after the other from `x`, each as `draw` draws it at its
// pen position with the room left to `end`.
template <typename Draw>
void TeletextScreen::EachRun(const pages::TeletextRow& row, long long x, long long end, Draw draw) {
    long long pen = x;
    for (const pages::TextRun& run : row.runs) {
        display_->SetSlant(run.slant);
        draw(run, Bound(pen), Bound(end - pen));
        int w = 0, h = 0, d = 0;
        display_->GetStringSize(layout_.fontSize, run.text, w, h, d);
        pen += w;
    }
    display_->SetSlant(false);
}

int TeletextScreen::Colour(const pages::TextRun& run) const {
    return layout_.runColors[run.colour >= 0 && run.colour < 8 ? run.colour : pages::kWhite];
}

// Every run's outline first, then every run's text (useBackground 1: a box
// and the text only).
void TeletextScreen::DrawRuns(const pages::TeletextRow& row, long long x, long long limit) {
    const TeletextLayout& l = layout_;
    const int y = Bound(l.textHeight);
    if (l.useBackground != 1 && row.runs.size() == 1) {
        const pages::TextRun& run = row.runs[0];
        display_->SetSlant(run.slant);
        display_->DrawOutlinedText(run.text, Bound(x), y, Bound(limit), l.fontSize, Colour(run), l.outlineColor,
                                   Bound(l.outlineSize));
        display_->SetSlant(false);
        return;
    }
    if (l.useBackground != 1)
        EachRun(row, x, x + limit, [&](const pages::TextRun& run, int pen, int room) {
            display_->DrawOutlinedText(run.text, pen, y, room, l.fontSize, l.outlineColor, l.outlineColor,
                                       Bound(l.outlineSize));
        });
    EachRun(row, x, x + limit, [&](const pages::TextRun& run, int pen, int room) {
        display_->DrawText(run.text, pen, y, room, 0, l.fontSize, Colour(run));
    });
}

void TeletextScreen::DrawRow(const pages::TeletextRow& row, const LineBox& box, int shift) {
    const TeletextLayout& l = layout_;
    eTrace("Subtitle@%d:%s\n", row.row + 1, row.bytes.c_str());
    if (box.lines <= 0) return;
    const int top = box.top + shift;
    highestRow_ = std::min(highestRow_, top);
    lowestRow_ = std::max(lowestRow_, top + box.lines);
    // Without a back buffer the drawing would land on the screen's top
    // lines; the line is left out instead (the display has logged why).
    if (!display_->AllocateBackBuffer(box.lines, 0)) return;
    display_->SelectBackBuffer(true);
    if (l.useBackground == 1 || l.useBackground == 2)
        display_->DrawFilledRect(Bound(box.x - l.textDepth / 2), 0, Bound((long long)box.width + l.textDepth),
                                 box.lines, l.backgroundColor);
    eTrace("Subtitle@RenderText.\n");
    DrawRuns(row, box.x, box.limit);
    display_->BlitBackBuffer(top);
    if (lineDrawn) lineDrawn(row.row, box.text);
    display_->SelectBackBuffer(false);
    display_->FreeBackBuffer();
}

}  // namespace render
