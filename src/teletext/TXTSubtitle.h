// The Teletext subtitle client: assembles one Teletext page from the EBU
// Teletext data units of a PES stream (EN 300 472, EN 300 706), picks out
// its boxed double-height rows when the page is complete, and hands them
// over as a page value.
#pragma once

#include <cstdint>
#include <string>

#include "demux/PESFilterUser.h"
#include "pages/Page.h"
#include "teletext/TeletextEnhancement.h"
#include "teletext/TeletextPackets.h"

class TXTSubtitle : public PESFilterUser {
public:
    static constexpr int kRows = 23;     // page rows 1..23, stored at index row - 1
    static constexpr int kColumns = 40;
    static constexpr int kPacketSize = teletext::kPacketBytes;

    TXTSubtitle();
    virtual int Receive(const PESPacket& pes) override;
    virtual int Sync(int64_t& time) override;
    virtual ~TXTSubtitle();

    // Resets reception for `page` (three hex digits, magazine 1-8), whose
    // 7-bit codes stand for the characters of `set`.
    void Start(int page, const pages::NationalSet& set = pages::PlainSet());
    // Removes what was shown.
    int Stop();

    void processSubtitlePage();
    void DumpPage(unsigned char* page);

    // The subtitle row of one page row, or false when the row carries
    // none: the row needs a double-height code, and after it boxes opened
    // by two start-box codes; the text of every non-empty box, in order,
    // joined by one space (spacing attributes read as spaces), through
    // `set`, with the row's enhanced characters (`enhanced`, 0 where the
    // byte stands; may be null) in place.
    static bool ExtractRow(const unsigned char* row, const uint16_t* enhanced, const pages::NationalSet& set,
                           pages::TeletextRow& out);
    // The text of the same with the codes as they are.
    static bool ExtractSubtitleLine(const unsigned char* row, std::string& text);

    pages::PageSink* sink = nullptr;  // where completed pages go
    pages::NationalSet national;
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
    // The page under reception was erased and no row of it has come yet.
    bool eraseWaiting = false;

private:
    // Both take the packet's 42 bytes as transmitted (bits not yet reversed).
    void handleHeader(int magazineNumber, const uint8_t* raw);
    void handleRow(int packetNumber, const uint8_t* raw);
    void keepPacket(const uint8_t* raw);
    void resetReception();
};
