#include "teletext/TXTSubtitle.h"

#include <cstring>
#include <vector>

#include "platform/Log.h"
#include "platform/Constants.h"
#include "platform/Utf8.h"
#include "teletext/TeletextPackets.h"
#include "teletext/TeletextTables.h"

namespace {

constexpr int kPageBytes = TXTSubtitle::kRows * TXTSubtitle::kColumns;
// EN 300 706 §9.3.1.3: control bit C4 (erase page) in the byte of subcode S2.
constexpr uint8_t kEraseBit = 0x08;
constexpr int kLastStoredRow = 23;    // rows 24 and 25 count for the page but are not kept
constexpr int kLastPageRow = 25;      // 26..31 are enhancement packets, not page rows
constexpr int kEnhancementPacket = 26;  // X/26, EN 300 706 §12.3

}  // namespace

TXTSubtitle::TXTSubtitle() : national(pages::PlainSet()) {
    eDebug("TXTSubtitle created.\n");
    // Nothing reads the reception state before Start; give it Start's values
    // anyway so that a stray packet finds a consistent page.
    resetReception();
}

TXTSubtitle::~TXTSubtitle() {}

int TXTSubtitle::Sync(int64_t& time) { return 0; }

void TXTSubtitle::Start(int wantedPage, const pages::NationalSet& set) {
    page = wantedPage;
    magazine = (page & 0xF00) >> 8;
    national = set;
    resetReception();
}

int TXTSubtitle::Stop() {
    if (sink) sink->ClearTeletext();
    return 0;
}

void TXTSubtitle::resetReception() {
    std::memset(displayPage, ' ', sizeof displayPage);
    std::memset(receivePage, ' ', sizeof receivePage);
    std::memset(packet, 0, sizeof packet);
    eraseWaiting = false;
    for (int& p : magazinePage) p = -1;
    receiving = 0;
    receiveEnhancement.Clear();
    displayEnhancement.Clear();
    std::memset(displayCharacters, 0, sizeof displayCharacters);
}

// EN 300 472 §4: the PES header is padded to 45 bytes and followed by the
// one-byte data_identifier, so every data unit starts on a 46-byte stride
// counted from the start of the packet. The first stride (header) starts
// with 0x00 and is not a data unit id that is accepted.
//
// Only one page is wanted, so the two address bytes are decoded first and
// straight from the transmitted bits: every magazine's header is kept (any
// header ends the page being received), while rows and enhancement packets
// of other pages are dropped before anything else of them is decoded.
int TXTSubtitle::Receive(const PESPacket& pes) {
    teletext::ForEachPacket(pes.data, pes.size > 0 ? size_t(pes.size) : 0, [this](const uint8_t* raw) {
        int m, y;
        if (!teletext::PacketAddress(raw, m, y)) {
            eWarning("TXT Biterror in Packet\n");
            return;
        }
        if (y == 0)
            handleHeader(m, raw);
        else if (m == magazine && magazinePage[m] == page)
            handleRow(y, raw);
    });
    // An erased page that brought no row in this packet clears now: a
    // broadcaster clears subtitles so, and the next header may come late.
    if (eraseWaiting && sink) sink->ClearTeletext();
    eraseWaiting = false;
    return 0;
}

// `packet` keeps the last packet of the wanted page in logical bit order.
void TXTSubtitle::keepPacket(const uint8_t* raw) {
    for (int k = 0; k < kPacketSize; ++k) packet[k] = teletext::ReverseBits(raw[k]);
}

// A page header ends the page that was being received in any magazine
// (serial transmission, EN 300 706 §7.2.1), then starts the page it names.
void TXTSubtitle::handleHeader(int m, const uint8_t* raw) {
    if (receiving == 1) {
        std::memcpy(displayPage, receivePage, kPageBytes);
        displayEnhancement = receiveEnhancement;
        teletext::ApplyEnhancement(displayEnhancement, displayCharacters, kRows);
        processSubtitlePage();
        receiving = 0;
    }
    int p;
    if (!teletext::HeaderPage(raw, m, p)) {
        eWarning("TXT Biterror in Page\n");
        return;
    }
    magazinePage[m] = p;
    if (p != page) {
        receiving = 0;
        return;
    }
    keepPacket(raw);
    // Rows and enhancement packets that are not sent again keep the last
    // completed page's content.
    std::memcpy(receivePage, displayPage, kPageBytes);
    receiveEnhancement = displayEnhancement;
    // An uncorrectable byte (0xFF) has the erase bit set too: erase then.
    uint8_t control = teletext::Hamming84OfTransmitted(raw[5]);
    if (control & kEraseBit) {
        std::memset(receivePage, ' ', sizeof receivePage);
        std::memset(displayPage, ' ', sizeof displayPage);
        receiveEnhancement.Clear();
        displayEnhancement.Clear();
        // What replaces the page shows when it is complete, in one change.
        receiving = 1;
        eraseWaiting = true;
    }
}

// A packet of the wanted page, running in the wanted magazine.
void TXTSubtitle::handleRow(int y, const uint8_t* raw) {
    if (y == kEnhancementPacket) {
        keepPacket(raw);
        receiveEnhancement.Store(packet + 2);
        return;
    }
    if (y > kLastPageRow) return;
    receiving = 1;
    if (y > kLastStoredRow) return;
    eraseWaiting = false;
    keepPacket(raw);
    unsigned char* row = receivePage[y - 1];
    for (int k = 0; k < kColumns; ++k) row[k] = teletext::OddParityOfTransmitted(raw[2 + k]);
}

namespace {

// One row being extracted: the row's bytes, its national set, and the
// runs of text to draw, each in the colour and slant where it stands.
struct RowText {
    const unsigned char* row;
    const uint16_t* enhanced;
    const pages::NationalSet& set;
    pages::TeletextRow& out;
    int colourAt[TXTSubtitle::kColumns];
    bool slant = false;

    bool Enhanced(int k) const { return enhanced != nullptr && enhanced[k] != 0; }
    // An enhanced character is never a blank to skip.
    bool Blank(int k) const { return row[k] == ' ' && !Enhanced(k); }
    // EN 300 706 §12.2: an alpha colour code shows as a space and sets the
    // colour from the next character on (set-after); a row starts in white.
    void FindColours() {
        int colour = pages::kWhite;
        for (int k = 0; k < TXTSubtitle::kColumns; ++k) {
            colourAt[k] = colour;
            if (row[k] <= ids::kTxtAlphaWhite) colour = row[k];
        }
    }
    void Put(uint32_t code, int colour) {
        std::vector<pages::TextRun>& runs = out.runs;
        if (runs.empty() || runs.back().colour != colour || runs.back().slant != slant)
            runs.push_back({std::string(), colour, slant});
        utf8::Append(runs.back().text, code);
    }
    void Add(int k) {
        const char byte = row[k] < 0x20 ? ' ' : char(row[k]);
        out.bytes += byte;
        uint32_t code = Enhanced(k) ? enhanced[k] : uint8_t(byte) < 0x80 ? set[uint8_t(byte)] : uint8_t(byte);
        // "<" and ">" start and end a slant, "_" switches it; each shows as
        // a space.
        if (code == '<' || code == '>' || code == '_') {
            slant = code == '<' ? true : code == '>' ? false : !slant;
            code = ' ';
        }
        Put(code, colourAt[k]);
    }
    bool Empty() const { return out.runs.empty(); }
    // Trailing blanks off, then one blank, before the next box's text.
    void Separate() {
        std::vector<pages::TextRun>& runs = out.runs;
        while (!runs.empty()) {
            std::string& t = runs.back().text;
            const size_t end = t.find_last_not_of(' ');
            t.erase(end == std::string::npos ? 0 : end + 1);
            if (!t.empty()) break;
            runs.pop_back();
        }
        if (!runs.empty()) runs.back().text += ' ';
        std::string& b = out.bytes;
        const size_t end = b.find_last_not_of(' ');
        b.erase(end == std::string::npos ? 0 : end + 1);
        if (!b.empty()) b += ' ';
    }
};

// Copies one box's text starting at `from` (just after the start-box pair);
// returns the position of the box's end (an end-box code or the end of the
// row). An empty box adds nothing.
int ExtractBox(RowText& line, int from) {
    const int columns = TXTSubtitle::kColumns;
    int k = from;
    while (k < columns && line.Blank(k)) ++k;
    if (k >= columns || line.row[k] == ids::kTxtEndBox) return k;
    if (!line.Empty()) line.Separate();
    for (; k < columns && line.row[k] != ids::kTxtEndBox; ++k) line.Add(k);
    return k;
}

}  // namespace

// A row may hold several boxes (for example two speakers on one row); each
// box's text is kept and the boxes are joined by one space. Trailing spaces
// of the last box stay, as they came.
bool TXTSubtitle::ExtractRow(const unsigned char* row, const uint16_t* enhanced, const pages::NationalSet& set,
                             pages::TeletextRow& out) {
    out = pages::TeletextRow();
    RowText line{row, enhanced, set, out, {}};
    line.FindColours();
    int k = 0;
    while (k < kColumns && row[k] != ids::kTxtDoubleHeight) ++k;
    if (k >= kColumns) return false;
    out.doubleHeight = true;
    ++k;
    while (k + 1 < kColumns) {
        if (row[k] != ids::kTxtStartBox || row[k + 1] != ids::kTxtStartBox) {
            ++k;
            continue;
        }
        out.boxed = true;
        k = ExtractBox(line, k + 2);
    }
    return !out.runs.empty();
}

bool TXTSubtitle::ExtractSubtitleLine(const unsigned char* row, std::string& text) {
    pages::TeletextRow out;
    const bool found = ExtractRow(row, nullptr, pages::PlainSet(), out);
    text.clear();
    for (const pages::TextRun& run : out.runs) text += run.text;
    return found;
}

// A completed page goes to the screen whole, as one page value.
void TXTSubtitle::processSubtitlePage() {
    pages::TeletextPage shown;
    shown.number = page;
    pages::TeletextRow line;
    for (int i = 0; i < kRows; ++i) {
        const unsigned char* row = displayPage[i];
        bool blank = true;
        for (int k = 0; k < kColumns && blank; ++k) blank = row[k] == ' ' && displayCharacters[i][k] == 0;
        if (blank || !ExtractRow(row, displayCharacters[i], national, line)) continue;
        line.row = i;
        shown.rows.push_back(std::move(line));
    }
    if (sink) sink->ShowTeletext(shown);
}

void TXTSubtitle::DumpPage(unsigned char* pageBuffer) {
    for (int r = 0; r < kRows; ++r) {
        eTrace2("r=%d[", r);
        for (int k = 0; k < kColumns; ++k) {
            unsigned char c = pageBuffer[r * kColumns + k];
            if (c < 0x20)
                eTrace2("_");
            else
                eTrace2("%c", c);
        }
        eTrace2("]\n");
    }
}
