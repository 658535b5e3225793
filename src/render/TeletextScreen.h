// Teletext subtitle pages on the screen: each row's line box in its slot
// near the bottom (EN 300 706 rows 1-23 mapped onto line pitches up from
// the bottom slot), the text centred or from the left margin, with its
// outline or on a box. A page replaces the one on the screen in one
// update, unless another display shows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/Options.h"
#include "pages/Page.h"
#include "render/OtherDisplay.h"

class IDisplayDevice;

namespace render {

// The drawing values in force, in screen pixels: the configured layout of
// the picture format, scaled from 720 x 576 to the screen.
struct TeletextLayout {
    int fontSize = 0;
    int rowSpace = 0;
    int startXPos = 0, startYPos = 0, extraYSize = 0;
    int outlineSize = 2;
    int centerText = 0, useBackground = 0;
    int textColor = 0, outlineColor = 0, backgroundColor = 0;
    // The colour each Teletext colour's runs are drawn in.
    int runColors[8] = {};
    int collisionDetection = 1;
    // The line box: lines above the baseline and below it.
    int textHeight = 0, textDepth = 0;
};

class TeletextScreen {
public:
    // Loads the layout of `videoFormat` (4: 4:3, else 16:9) for the
    // display's screen and depth; `display` may be null (nothing is drawn).
    void Start(IDisplayDevice* display, const config::TeletextStyle& style, int videoFormat);
    void Show(const pages::TeletextPage& page);
    // Removes what was drawn (or leaves the clear pending while another
    // display shows).
    void Clear();

    const TeletextLayout& Layout() const { return layout_; }
    // The lines that the drawn rows cover (top >= bottom: none).
    int DrawnTop() const { return highestRow_; }
    int DrawnBottom() const { return lowestRow_; }

    // Called with the row index and the UTF-8 text of every line drawn,
    // after its blit and before the display is unlocked. Unset in the
    // daemon; the simulator and the tests learn the drawn text from it.
    std::function<void(int rowIndex, const std::string& text)> lineDrawn;

private:
    bool OkToDraw() const;
    void ClearLocked();
    // Where a row's line box goes: its text's start and room, the box's
    // first line and height (0: it fits no screen), the text (its runs
    // joined) and its width.
    struct LineBox {
        long long x = 0, limit = 0;
        int top = 0, lines = 0, width = 0;
        std::string text;
    };
    LineBox Place(const pages::TeletextRow& row) const;
    bool Fits(const std::vector<LineBox>& boxes, int& shift) const;
    void DrawRow(const pages::TeletextRow& row, const LineBox& box, int shift);
    void DrawRuns(const pages::TeletextRow& row, long long x, long long limit);
    template <typename Draw>
    void EachRun(const pages::TeletextRow& row, long long x, long long end, Draw draw);
    int BoxTop(int rowIndex, int boxHeight) const;
    int Colour(const pages::TextRun& run) const;

    IDisplayDevice* display_ = nullptr;
    TeletextLayout layout_;
    OtherDisplay other_;
    int screenWidth_ = 0, screenHeight_ = 0;
    int highestRow_ = 0, lowestRow_ = 0;
    pages::TeletextPage shown_;  // what the screen shows, once drawn
    bool pending_ = false;       // the screen does not show the last page yet
};

}  // namespace render
