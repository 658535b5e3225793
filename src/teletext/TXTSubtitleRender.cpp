// Drawing of the subtitle lines: collision test, clear, and one line composed
// in a back buffer and blitted to the screen in one block.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/Log.h"
#include "display/IDisplayDevice.h"
#include "teletext/TXTSubtitle.h"

namespace {

constexpr int kProbeColumn = kScreenWidth / 2;  // the column the collision test samples
constexpr int kLeftMargin = 90;
constexpr int kBottomBaseline = 530;            // baseline of the bottom slot, before startYPos
constexpr int kBottomSlotRow = 21;              // row index of the bottom slot's own row

// Coordinates handed to the display come from settings of any size; far
// beyond the screen they all mean the same, and bounding them keeps the
// arithmetic on both sides free of overflow.
int Bound(long long v) { return int(std::clamp(v, -32768LL, 32767LL)); }

}  // namespace

// Samples every second line of the centre column: a pixel of another
// display (the device tells: not transparent, not drawn by the daemon)
// that is not one of our three colours either (left by an earlier run of
// the daemon, say) belongs to another on-screen display.
int TXTSubtitle::okToDraw() {
    if (collisionDetection == 0) return 1;
    unsigned char px[4] = {0, 0, 0, 0};
    const bool words = display->GetBPP() == 32;
    int from = 0, to = kScreenHeight;
    if (words && highestRow < lowestRow) {
        from = std::max(highestRow, 0);
        to = std::min(lowestRow, kScreenHeight);
    }
    for (int y = from; y < to; y += 2) {
        if (!display->ShowsOther(kProbeColumn, y)) continue;
        display->ReadPixel(kProbeColumn, y, px);
        if (words) {
            // A 32-bit pixel is one native word 0xAARRGGBB in either byte
            // order; the settings' colours are 0xRRGGBBAA.
            uint32_t word;
            std::memcpy(&word, px, sizeof word);
            const int v = int(word << 8 | word >> 24);
            if (v == textColor || v == outlineColor || v == backgroundColor) continue;
            return 0;
        }
        // One byte per pixel: only the low byte of a colour reaches the
        // screen, so that is what our own pixels read back as.
        const int index = px[0];
        if (index == (textColor & 0xFF) || index == (outlineColor & 0xFF) || index == (backgroundColor & 0xFF))
            continue;
        eTrace("TEKO: Check collision@(%d, %d): Color at this pixel:%x\n", kProbeColumn, y, index);
        return 0;
    }
    return 1;
}

int TXTSubtitle::clearSubtitlePage() {
    if (display == nullptr) return 0;
    if (!okToDraw()) {
        clearPending = true;
        lastRow = -1;
        return 0;
    }
    eTrace("CLEAR Subtitle page.\n");
    eTrace("highestRow=%d\n", highestRow);
    eTrace("lowestRow=%d\n", lowestRow);
    if (!pageLocked) display->Lock();
    if (highestRow < lowestRow)
        display->DrawFilledRect(0, highestRow, kScreenWidth, lowestRow - highestRow, 0);
    else
        display->Clear();
    if (!pageLocked) display->UnLock();
    clearPending = false;
    lastRow = -1;
    return 1;
}

// Slot (i - 21) / 2, truncating toward zero, counts line pitches up from the
// bottom slot. Large offsets or metrics would put the box off the screen;
// it is shifted back onto lines 0-575 so the blit stays inside the screen.
int TXTSubtitle::boxTop(int rowIndex, int boxHeight) const {
    long long slot = (rowIndex - kBottomSlotRow) / 2;
    long long pitch = (long long)textHeight + textDepth + rowSpace;
    long long baseline = pitch * slot + startYPos + kBottomBaseline;
    long long top = baseline - textHeight;
    top = std::min(top, (long long)kScreenHeight - boxHeight);
    return int(std::max(top, 0LL));
}

int TXTSubtitle::renderSubtitle(std::string text, int i) { return renderSubtitle(text, i, text); }

void TXTSubtitle::renderPage(const std::vector<PageLine>& lines) {
    if (display) display->Lock();
    pageLocked = true;
    for (const PageLine& line : lines) renderSubtitle(line.text, line.row, line.bytes);
    pageLocked = false;
    if (display) display->UnLock();
}

int TXTSubtitle::renderSubtitle(std::string text, int i, const std::string& logged) {
    if (display == nullptr) return 1;
    if (!okToDraw()) {
        eTrace("Subtitle@%d:%s\n", i + 1, logged.c_str());
        eTrace("...don't draw this, something on screen.\n");
        return 1;
    }
    if (lastRow == kBottomSlotRow) {
        eTrace("Forced CLEAR, then draw!\n");
        clearSubtitlePage();
    }
    lastRow = i;
    eTrace("Subtitle@%d:%s\n", i + 1, logged.c_str());

    int w = 0, h = 0, d = 0;
    display->GetStringSize(fontSize, text, w, h, d);
    long long x, limit;
    if (centerText == 1) {
        x = (kScreenWidth - (long long)w) / 2 + 1;
        limit = kScreenWidth;
    } else {
        x = (long long)startXPos + kLeftMargin;
        limit = kScreenWidth - x;
    }

    long long boxLines = (long long)textHeight + textDepth;
    if (boxLines <= 0 || boxLines > kScreenHeight) {
        eWarning("Subtitle line of %lld lines does not fit the screen.\n", boxLines);
        return 1;
    }
    int lines = int(boxLines);
    int top = boxTop(i, lines);
    highestRow = std::min(highestRow, top);
    lowestRow = std::max(lowestRow, top + lines);

    if (!pageLocked) display->Lock();
    // Without a back buffer the drawing would land on the screen's top lines;
    // the line is left out instead (the display has logged why).
    if (!display->AllocateBackBuffer(lines, 0)) {
        if (!pageLocked) display->UnLock();
        return 1;
    }
    display->SelectBackBuffer(true);
    if (useBackground == 1 || useBackground == 2)
        display->DrawFilledRect(Bound(x - textDepth / 2), 0, Bound((long long)w + textDepth), lines,
                                backgroundColor);
    // The outline copies, all before the text (useBackground 1: box only).
    eTrace("Subtitle@RenderText.\n");
    if (useBackground != 1)
        display->DrawOutlinedText(text, Bound(x), Bound(textHeight), Bound(limit), fontSize, textColor, outlineColor,
                                  Bound(outlineSize));
    else
        display->DrawText(text, Bound(x), Bound(textHeight), Bound(limit), 0, fontSize, textColor);
    display->BlitBackBuffer(top);
    if (lineDrawn) lineDrawn(i, text);
    display->SelectBackBuffer(false);
    display->FreeBackBuffer();
    if (!pageLocked) display->UnLock();
    clearPending = false;
    return 0;
}
