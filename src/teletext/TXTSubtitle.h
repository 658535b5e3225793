// The Teletext subtitle client: assembles one Teletext page from the EBU
// Teletext data units of a PES stream (EN 300 472, EN 300 706), picks out
// its boxed double-height lines when the page is complete, and draws them
// near the bottom of the screen through the display.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "config/Options.h"
#include "demux/PESFilterUser.h"
#include "teletext/TeletextEnhancement.h"

class IDisplayDevice;

class TXTSubtitle : public PESFilterUser {
public:
    static constexpr int kRows = 23;     // page rows 1..23, stored at index row - 1
    static constexpr int kColumns = 40;
    static constexpr int kPacketSize = 42;  // two address bytes and 40 data bytes

    TXTSubtitle();
    virtual int Receive(const PESPacket& pes) override;
    virtual int Sync(int64_t& time) override;
    virtual ~TXTSubtitle();

    // Resets reception for `page` (three hex digits, magazine 1-8) and loads
    // the drawing values of `style`; `display` and `videoFormat` must be set.
    void Start(int page);
    // Removes what was drawn (or leaves the clear pending).
    int Stop();

    void processSubtitlePage();
    void DumpPage(unsigned char* page);

    // Drawing (TXTSubtitleRender.cpp). `text` is UTF-8 (codes below 0x80
    // still in the page's national set); the log line shows `logged`, the
    // row's bytes, which is `text` itself in the first form.
    int renderSubtitle(std::string text, int rowIndex);
    int renderSubtitle(std::string text, int rowIndex, const std::string& logged);
    int okToDraw();
    int clearSubtitlePage();
    struct PageLine {
        int row;
        std::string bytes, text;
    };
    // The lines of a completed page, in one lock span.
    void renderPage(const std::vector<PageLine>& lines);
    // True while processSubtitlePage holds the display's lock for a whole
    // page: the drawing calls within it take no lock of their own.
    bool pageLocked = false;

    // The subtitle text of one page row, or false when the row carries none:
    // the row needs a double-height code, and after it boxes opened by two
    // start-box codes; the text of every non-empty box, in order, joined by
    // one space (spacing attributes read as spaces).
    static bool ExtractSubtitleLine(const unsigned char* row, std::string& text);
    // The same with the row's enhanced characters (`enhanced`, 0 where the
    // byte stands; may be null): `text` is the UTF-8 line to draw, `bytes`
    // the line of the row's own bytes.
    static bool ExtractSubtitleLine(const unsigned char* row, const uint16_t* enhanced, std::string& bytes,
                                    std::string& text);

    // Called with the row index and the UTF-8 text of every line drawn,
    // after its blit and before the display is unlocked. Unset in the
    // daemon; the simulator and the tests learn the drawn text from it.
    std::function<void(int rowIndex, const std::string& text)> lineDrawn;

    config::TeletextStyle style;  // the configured drawing values
    IDisplayDevice* display;
    int page = 0;
    int magazine = 0;
    unsigned char packet[kPacketSize] = {};
    unsigned char receivePage[kRows][kColumns];
    int magazinePage[9];
    unsigned char displayPage[kRows][kColumns];
    // The X/26 packets of the page under reception and of the last
    // completed page, and the characters they put on the latter.
    teletext::PageEnhancement receiveEnhancement;
    teletext::PageEnhancement displayEnhancement;
    uint16_t displayCharacters[kRows][kColumns];
    int receiving = 0;
    int textHeight = 0, textDepth = 0;
    int rowSpace = 0;
    int videoFormat = 4;
    int startXPos = 0, startYPos = 0, extraYSize = 0, fontSize = 0;
    int useBackground = 0, outlineSize = 2, centerText = 0;
    int backgroundColor = 0, outlineColor = 0, textColor = 0;
    int lastRow = -1;
    int highestRow = 576, lowestRow = 0;
    bool clearPending = false;
    int collisionDetection = 0;

private:
    // Both take the packet's 42 bytes as transmitted (bits not yet reversed).
    void handleHeader(int magazineNumber, const uint8_t* raw);
    void handleRow(int packetNumber, const uint8_t* raw);
    void keepPacket(const uint8_t* raw);
    void resetReception();
    // The screen line where a line box of `boxHeight` lines for row index
    // `rowIndex` begins, kept within the screen.
    int boxTop(int rowIndex, int boxHeight) const;
};
