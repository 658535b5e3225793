// Start-up of a subtitle page: reception state and the drawing settings,
// chosen by picture format and screen depth, and the line metrics.
#include "platform/Log.h"
#include "display/IDisplayDevice.h"
#include "teletext/TXTSubtitle.h"

namespace {

// The tallest and deepest glyphs of a Teletext text fix the line metrics.
const char kMeasureSample[] = "[]|{}\\yYjJ";
constexpr int kFourThree = 4;
constexpr int kBottomGap = 3;  // lines below the deepest descender, room for the outline

}  // namespace

void TXTSubtitle::Start(int wantedPage) {
    page = wantedPage;
    magazine = (page & 0xF00) >> 8;
    resetReception();

    const config::TeletextLayout& layout = videoFormat == kFourThree ? style.fourThree : style.wide;
    fontSize = layout.fontSize;
    rowSpace = layout.rowSpace;
    startYPos = layout.startYPos;
    extraYSize = layout.extraYSize;
    if (videoFormat == kFourThree)
        eDebug("Drawing using 4:3 settings...\n");
    else
        eDebug("Drawing using 16:9 settings...\n");
    startXPos = style.startXPos;
    centerText = style.centerText;
    useBackground = style.useBackground;
    outlineSize = style.outlineSize;
    const bool words = display != nullptr && display->GetBPP() == 32;
    outlineColor = words ? style.outlineColor : style.paletteOutlineColor;
    backgroundColor = words ? style.backgroundColor : style.paletteBackgroundColor;
    textColor = words ? style.textColor : style.paletteTextColor;
    collisionDetection = style.collisionDetection;

    int width = 0;
    textHeight = 0;
    textDepth = 0;
    if (display != nullptr) display->GetStringSize(fontSize, kMeasureSample, width, textHeight, textDepth);
    // Half the extra size above the tallest glyph, half of it below the
    // deepest descender, plus a few lines there for the outline.
    textHeight += extraYSize / 2;
    textDepth += kBottomGap + extraYSize / 2;
    highestRow = kScreenHeight;
    lowestRow = 0;

    eDebug("Drawing TextColor: %x\n", textColor);
    eDebug("Drawing OutlineColor: %x\n", outlineColor);
    eDebug("Drawing BackgroundColor: %x\n", backgroundColor);
    eDebug("CollisionDetection: %d\n", collisionDetection);
}

int TXTSubtitle::Stop() {
    clearSubtitlePage();
    return 0;
}
