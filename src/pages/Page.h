// Decoded subtitle pages as the decoders hand them over: plain values that
// say what a page holds, nothing of where or how it is drawn. The
// presentation layer (render/) lays them out on the screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace pages {

// One region of a DVB page (EN 300 743 §7.2.2, §7.2.3) at its place on
// the display that the page is composed for.
struct DvbRegion {
    int id = 0;
    // Top left corner in display pixels, the display window's offset included.
    long x = 0, y = 0;
    int width = 0, height = 0;
    // width x height pixel codes, row after row; null when the region has
    // none. Owned by the decoder: valid during the call that hands it over.
    const unsigned char* codes = nullptr;
    // The colour of each code through the region's CLUT, 0xAARRGGBB.
    uint32_t argb[256];
    // The CLUT's entries for the region's depth (4, 16 or 256): past them
    // argb and index hold 0.
    int entries = 256;
    // The same for a screen of one byte per pixel whose palette holds the
    // default 4-bit CLUT at 0xF0-0xFF (EN 300 743 §10.2): the nearest
    // default entry of each code's colour; 0 leaves the screen as it is.
    uint8_t index[256];
    // The CLUT's 4-bit family, 0xRRGGBBAA, for palette slots 0-15.
    int palette[16];
};

struct DvbPage {
    // The display definition in force (EN 300 743 §7.2.1).
    int displayWidth = 720;
    int displayHeight = 576;
    // In drawing order; none: nothing shows.
    std::vector<DvbRegion> regions;
};

// EN 300 706 §12.2, table 26: the alpha colours in the order of their codes.
enum TeletextColour { kBlack, kRed, kGreen, kYellow, kBlue, kMagenta, kCyan, kWhite };

// A stretch of a row in one colour and slant: final UTF-8 text, national
// characters and page enhancements applied.
struct TextRun {
    std::string text;
    int colour = kWhite;
    bool slant = false;
    bool operator==(const TextRun& o) const { return text == o.text && colour == o.colour && slant == o.slant; }
};

struct TeletextRow {
    int row = 0;  // page row index, 0 for row 1
    std::vector<TextRun> runs;
    bool boxed = false;         // inside start-box codes (EN 300 706 §12.2)
    bool doubleHeight = false;  // after a double-height code
    // The row's own bytes as received (spacing attributes as blanks), for the log.
    std::string bytes;
    bool operator==(const TeletextRow& o) const {
        return row == o.row && runs == o.runs && boxed == o.boxed && doubleHeight == o.doubleHeight;
    }
};

struct TeletextPage {
    int number = 0;  // magazine and page, 0x889 for page 889
    std::vector<TeletextRow> rows;  // the subtitle rows, top to bottom
};

// What each 7-bit code of a Teletext G0 set stands for (EN 300 706 §15.2,
// a national option subset or a whole script), as Unicode code points.
using NationalSet = std::array<uint32_t, 128>;

inline NationalSet PlainSet() {
    NationalSet set{};
    for (uint32_t c = 0; c < set.size(); ++c) set[c] = c;
    return set;
}

// Where the decoders hand their pages. A page replaces the one of its kind
// that shows; the calls come from the thread that decodes.
class PageSink {
public:
    virtual void ShowDvb(const DvbPage& page) = 0;
    virtual void ClearDvb() = 0;
    virtual void ShowTeletext(const TeletextPage& page) = 0;
    virtual void ClearTeletext() = 0;

protected:
    ~PageSink() = default;
};

}  // namespace pages
