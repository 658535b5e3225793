#include "teletext/TeletextEnhancement.h"

#include <algorithm>
#include <cstring>

#include "teletext/TeletextTables.h"

namespace teletext {

namespace {

// EN 300 706 table 37 (Latin G2 supplementary set), 0x20-0x7F; unassigned
// positions are spaces.
constexpr uint16_t kLatinG2[96] = {
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x0024, 0x00A5, 0x0023, 0x00A7,  // 0x20
    0x00A4, 0x2018, 0x201C, 0x00AB, 0x2190, 0x2191, 0x2192, 0x2193,  // 0x28
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00D7, 0x00B5, 0x00B6, 0x00B7,  // 0x30
    0x00F7, 0x2019, 0x201D, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // 0x38
    0x0020, 0x02CB, 0x02CA, 0x02C6, 0x02DC, 0x02C9, 0x02D8, 0x02D9,  // 0x40
    0x00A8, 0x002E, 0x02DA, 0x02CF, 0x02CD, 0x02DD, 0x02DB, 0x02C7,  // 0x48
    0x2014, 0x00B9, 0x00AE, 0x00A9, 0x2122, 0x266A, 0x20A0, 0x2030,  // 0x50
    0x0251, 0x0020, 0x0020, 0x0020, 0x215B, 0x215C, 0x215D, 0x215E,  // 0x58
    0x2126, 0x00C6, 0x00D0, 0x00AA, 0x0126, 0x0020, 0x0132, 0x013F,  // 0x60
    0x0141, 0x00D8, 0x0152, 0x00BA, 0x00DE, 0x0166, 0x014A, 0x0149,  // 0x68
    0x0138, 0x00E6, 0x0111, 0x00F0, 0x0127, 0x0131, 0x0133, 0x0140,  // 0x70
    0x0142, 0x00F8, 0x0153, 0x00DF, 0x00FE, 0x0167, 0x014B, 0x25A0,  // 0x78
};

// The Latin G0 set without a national subset (EN 300 706 table 35): ASCII
// but for 0x24 (currency sign), 0x7C (broken bar) and 0x7F (block).
constexpr uint16_t LatinG0(unsigned code) {
    return code == 0x24 ? 0x00A4 : code == 0x7C ? 0x00A6 : code == 0x7F ? 0x25A0 : uint16_t(code);
}

struct Composed {
    unsigned mark;
    char letter;
    uint16_t unicode;
};
constexpr Composed kComposed[] = {
#include "teletext/TeletextCompose.inc"
};

// mark x code -> precomposed letter, or the bare letter.
struct ComposeTable {
    uint16_t letter[16][96];
};
constexpr ComposeTable MakeComposeTable() {
    ComposeTable t{};
    for (unsigned mark = 0; mark < 16; ++mark)
        for (unsigned code = 0x20; code < 0x80; ++code) t.letter[mark][code - 0x20] = LatinG0(code);
    for (const Composed& c : kComposed) t.letter[c.mark][unsigned(c.letter) - 0x20] = c.unicode;
    // EN 300 706 table 29: mode 0x10 shows code 0x2A as "@".
    t.letter[0][0x2A - 0x20] = '@';
    return t;
}
constexpr ComposeTable kComposeTable = MakeComposeTable();

// Triplet fields (EN 300 706 §12.3.1): address D1-D6, mode D7-D11, data D12-D18.
constexpr unsigned Address(uint32_t t) { return t & 0x3F; }
constexpr unsigned Mode(uint32_t t) { return (t >> 6) & 0x1F; }
constexpr unsigned Data(uint32_t t) { return t >> 11; }

constexpr int kColumns = 40;
constexpr unsigned kSetActivePosition = 0x04;
constexpr unsigned kFullRowColour = 0x01;
constexpr unsigned kAddressRow0 = 0x07;
constexpr unsigned kTermination = 0x1F;
constexpr unsigned kG2Character = 0x0F;
constexpr unsigned kFirstDiacritic = 0x10;

}  // namespace

uint16_t LatinG2(unsigned code) { return code >= 0x20 && code < 0x80 ? kLatinG2[code - 0x20] : 0x20; }

uint16_t ComposeLatin(unsigned mark, unsigned code) {
    if (mark > 15 || code < 0x20 || code > 0x7F) return 0x20;
    return kComposeTable.letter[mark][code - 0x20];
}

void PageEnhancement::Store(const uint8_t* data) {
    uint8_t designation = Hamming84(data[0]);
    if (designation == kHammingError) return;
    for (int t = 0; t < kTriplets; ++t)
        triplets[designation][t] = Hamming2418(data[1 + 3 * t], data[2 + 3 * t], data[3 + 3 * t]);
    present |= uint16_t(1u << designation);
}

// EN 300 706 §12.3.1: triplets are read in designation-code order. A row
// address triplet (address 40-63; 40 is row 24) moves the active position
// to its row; a column address triplet (0-39) moves it along the row and
// may place a character there. Along a row the active position only moves
// forward: a column behind it leaves it where it is, and the character
// lands at the active position. Only what a Level 1.5 decoder shows is
// honoured: G2 characters, G0 letters with a diacritical mark, and the
// termination marker; the column of "set active position" is taken from
// its data, as at Level 2.5, when it names a column. An uncorrectable
// triplet is dropped; it may have been a row address, so the row of the
// characters after it is unknown, and they are dropped too until the next
// row address sets the active position again. (libzvbi ends the whole
// enhancement there instead, losing the rows that follow.)
void ApplyEnhancement(const PageEnhancement& e, uint16_t (*characters)[40], int rows) {
    std::memset(characters, 0, sizeof(uint16_t) * 40 * size_t(rows));
    int activeRow = 0, activeColumn = 0;
    for (int d = 0; d < PageEnhancement::kPackets; ++d) {
        if (!(e.present & (1u << d))) continue;
        for (int k = 0; k < PageEnhancement::kTriplets; ++k) {
            const uint32_t t = e.triplets[d][k];
            if (t == kTripletError) {
                activeRow = -1;  // no row until the next row address
                continue;
            }
            const unsigned address = Address(t), mode = Mode(t), data = Data(t);
            if (address >= kColumns) {
                if (mode == kTermination) return;
                int row = address == kColumns ? 24 : int(address) - kColumns;
                if (mode == kAddressRow0) {
                    if (address != 63) continue;
                    row = 0;
                } else if (mode != kSetActivePosition && mode != kFullRowColour) {
                    continue;
                }
                activeRow = row;
                activeColumn = mode == kSetActivePosition && data < unsigned(kColumns) ? int(data) : 0;
                continue;
            }
            uint16_t unicode = 0;
            if (mode == kG2Character && data >= 0x20)
                unicode = LatinG2(data);
            else if (mode >= kFirstDiacritic && data >= 0x20)
                unicode = ComposeLatin(mode - kFirstDiacritic, data);
            if (unicode == 0) continue;
            activeColumn = std::max(activeColumn, int(address));
            if (activeRow >= 1 && activeRow <= rows) characters[activeRow - 1][activeColumn] = unicode;
        }
    }
}

}  // namespace teletext
