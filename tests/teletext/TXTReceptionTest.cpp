// Reception and page assembly, from packets made by the stream builder.
#include <gtest/gtest.h>

#include "TxtTestSupport.h"
#include "teletext/TeletextTables.h"

using ttx::Bytes;
using ttx::RowPacket;
using ttx::SubtitleRow;

namespace {

class TXTReception : public testing::Test {
protected:
    void SetUp() override { StartOnFake(txt, presenter, fake, 0x888); }
    std::vector<std::string> Lines() const { return DrawnLines(fake, kWhite); }
    int Receive(const Bytes& pes) {
        PESPacket p;
        p.data = const_cast<uint8_t*>(pes.data());
        p.size = int(pes.size());
        return txt.Receive(p);
    }

    FakeDisplay fake;
    render::Presenter presenter;
    TXTSubtitle txt;
};

}  // namespace

TEST_F(TXTReception, StridesOfFortySixBytesOnly) {
    Bytes pes = ttx::Pes({ttx::DataUnit(Head(8, 0x88))}, 0, false);
    ASSERT_EQ(pes.size(), 92u);
    // 45 bytes hold no stride; 91 only the header stride.
    EXPECT_EQ(Receive(Bytes(pes.begin(), pes.begin() + 45)), 0);
    EXPECT_EQ(Receive(Bytes(pes.begin(), pes.begin() + 91)), 0);
    EXPECT_EQ(txt.magazinePage[8], -1);
    EXPECT_EQ(Receive(pes), 0);
    EXPECT_EQ(txt.magazinePage[8], 0x888);
    // A null packet and a negative size are nothing to read.
    PESPacket empty;
    empty.size = -5;
    EXPECT_EQ(txt.Receive(empty), 0);
}

TEST_F(TXTReception, DataUnitIdsAndLengths) {
    Feed(txt, {Head(8, 0x88)}, 0x02);  // non-subtitle units count the same
    EXPECT_EQ(txt.magazinePage[8], 0x888);
    std::vector<Bytes> units = {ttx::DataUnit(RowPacket(8, 20, "stuffed"), 0xFF),
                                ttx::DataUnit(RowPacket(8, 21, "short"), 0x03, 0x2B),
                                ttx::DataUnit(RowPacket(8, 22, "kept"), 0x02)};
    Receive(ttx::Pes(units, 0));
    EXPECT_EQ(RowText(txt.receivePage[19]), Padded(""));
    EXPECT_EQ(RowText(txt.receivePage[20]), Padded(""));
    EXPECT_EQ(RowText(txt.receivePage[21]), Padded("kept"));
}

TEST_F(TXTReception, MagazineBitsZeroAreMagazineEight) {
    Bytes header = Head(8, 0x88);
    EXPECT_EQ(teletext::Hamming84(header[0]) & 7, 0);
    Feed(txt, {header, RowPacket(8, 22, SubtitleRow("Hello"))});
    Feed(txt, {Head(1, 0x00)});
    EXPECT_EQ(Lines(), std::vector<std::string>{"Hello"});
}

TEST_F(TXTReception, HammingCorrectionInAddressesAndPageNumbers) {
    // One bit wrong in each address byte: used as corrected.
    Feed(txt, {ttx::FlipBit(Head(8, 0x88), 0, 3)});
    EXPECT_EQ(txt.magazinePage[8], 0x888);
    Feed(txt, {ttx::FlipBit(RowPacket(8, 22, SubtitleRow("One")), 1, 6)});
    EXPECT_EQ(txt.receiving, 1);

    // Two bits wrong: logged and dropped.
    testing::internal::CaptureStderr();
    Feed(txt, {ttx::FlipBit(ttx::FlipBit(Head(1, 0x23), 0, 1), 0, 2)});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "TEKO: TXT Biterror in Packet\n");
    EXPECT_EQ(txt.receiving, 1);
    EXPECT_EQ(txt.magazinePage[1], -1);

    // An uncorrectable page digit: the header still completes the page, but
    // the magazine keeps its running page, so its rows still count.
    testing::internal::CaptureStderr();
    Feed(txt, {ttx::FlipBit(ttx::FlipBit(Head(8, 0x99), 2, 0), 2, 7)});
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("TEKO: Subtitle@22:One"), std::string::npos);
    EXPECT_NE(log.find("TEKO: TXT Biterror in Page\n"), std::string::npos);
    EXPECT_EQ(txt.magazinePage[8], 0x888);
    Feed(txt, {RowPacket(8, 20, SubtitleRow("Two"))});
    EXPECT_EQ(txt.receiving, 1);
}

TEST_F(TXTReception, CompletionByAHeaderOfAnyMagazine) {
    // Rows before the page's first header are not the page's.
    Feed(txt, {RowPacket(8, 22, SubtitleRow("early"))});
    EXPECT_EQ(txt.receiving, 0);
    EXPECT_EQ(RowText(txt.receivePage[21]), Padded(""));

    Feed(txt, {Head(8, 0x88), RowPacket(8, 20, SubtitleRow("first")), RowPacket(8, 22, SubtitleRow("second"))});
    EXPECT_TRUE(Lines().empty());
    // Rows of another magazine, and of another page in magazine 8, are ignored.
    Feed(txt, {Head(3, 0x50, false), RowPacket(3, 20, SubtitleRow("other"))});
    EXPECT_EQ(Lines(), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(txt.receiving, 0);
    Feed(txt, {Head(8, 0x89), RowPacket(8, 20, SubtitleRow("neighbour")), Head(8, 0x88, false)});
    EXPECT_EQ(RowText(txt.receivePage[19]), Padded(SubtitleRow("first")));
    EXPECT_EQ(Lines().size(), 2u);  // no row arrived since the last header: nothing completes
}

TEST_F(TXTReception, EraseAndKeptRows) {
    Feed(txt, {Head(8, 0x88), RowPacket(8, 20, SubtitleRow("top")), RowPacket(8, 22, SubtitleRow("bottom"))});
    Feed(txt, {Head(8, 0x88, false)});  // completes; rows stay for the next page
    ASSERT_EQ(Lines().size(), 2u);
    Feed(txt, {RowPacket(8, 22, SubtitleRow("new"))});
    Feed(txt, {Head(2, 0x00)});
    EXPECT_EQ(Lines(), (std::vector<std::string>{"top", "bottom", "top", "new"}));

    // The erase flag empties both buffers; with no row of the new page in
    // its packet, the screen is cleared at once.
    int clears = int(fake.rects.size()) + fake.clears;
    Feed(txt, {Head(8, 0x88, true)});
    EXPECT_GT(int(fake.rects.size()) + fake.clears, clears);
    for (int r = 0; r < TXTSubtitle::kRows; ++r) {
        EXPECT_EQ(RowText(txt.receivePage[r]), Padded(""));
        EXPECT_EQ(RowText(txt.displayPage[r]), Padded(""));
    }
    int inkTop, inkBottom;
    EXPECT_FALSE(fake.InkedLines(inkTop, inkBottom));
}

TEST_F(TXTReception, PacketsAboveTwentyThree) {
    Feed(txt, {Head(8, 0x88), RowPacket(8, 22, SubtitleRow("kept"))});
    Feed(txt, {Head(8, 0x88, false), ttx::RawPacket(8, 24, Bytes(40, 0x0D))});
    EXPECT_EQ(txt.receiving, 1);  // packet 24 marks the page, is not stored
    Feed(txt, {Head(8, 0x88, false), ttx::RawPacket(8, 26, Bytes(40, 0x0D))});
    EXPECT_EQ(txt.receiving, 0);  // enhancement packets do not count
    Feed(txt, {ttx::RawPacket(8, 25, Bytes(40, 0x0D)), Head(5, 0x00)});
    // The page completes three times, the same each time: drawn once.
    EXPECT_EQ(Lines(), (std::vector<std::string>{"kept"}));
}

TEST_F(TXTReception, ParityErrorsBecomeSpaces) {
    Bytes row = RowPacket(8, 5, "ABC");
    row[2 + 1] ^= 0x01;  // 'B' loses its parity
    Feed(txt, {Head(8, 0x88), row});
    EXPECT_EQ(RowText(txt.receivePage[4]), Padded("A C"));
}

TEST_F(TXTReception, LinesDrawnTopToBottomWithTheirRowIndexes) {
    testing::internal::CaptureStderr();
    Feed(txt, {Head(8, 0x88), RowPacket(8, 22, SubtitleRow("lower")), RowPacket(8, 20, SubtitleRow("upper")),
               RowPacket(8, 3, "no double height"), Head(8, 0x11)});
    std::string log = testing::internal::GetCapturedStderr();
    size_t upper = log.find("TEKO: Subtitle@20:upper\n");
    size_t lower = log.find("TEKO: Subtitle@22:lower\n");
    ASSERT_NE(upper, std::string::npos);
    ASSERT_NE(lower, std::string::npos);
    EXPECT_LT(upper, lower);
    EXPECT_EQ(Lines().size(), 2u);
}

TEST(TXTExtraction, LineRules) {
    struct Case {
        std::string row;
        bool found;
        std::string text;
    } cases[] = {
        {"\x0d\x0b\x0bHello\x0a\x0a", true, "Hello"},
        {"\x0b\x0bHello\x0a\x0a", false, ""},                     // no double height
        {"\x0d\x0bHello\x0a\x0a", false, ""},                     // single start box
        {"\x0d\x0b\x0b\x07Hello\x0a", true, " Hello"},            // colour code before the word
        {"\x0d\x0b\x0b   \x0a\x0a", false, ""},                   // empty box
        {"\x0d\x0b\x0b  Hi  \x0a", true, "Hi  "},                 // leading blanks dropped, trailing kept
        {"\x0d\x0b\x0b" "Hi\x01there", true, "Hi there" + std::string(29, ' ')},         // to the end of the row
        {"\x0b\x0b\x0dHi", false, ""},                            // boxes before the double height
        // Two boxes on one row (as German page 150 sends it), joined by one space.
        {"\x0d\x0b\x0bgeeignet.\x0a \x03\x0b\x0bStufen Sie ihn zur}ck!\x0a", true,
         "geeignet. Stufen Sie ihn zur}ck!"},
        {"\x0d\x0b\x0b" "A  \x0a\x0b\x0b  \x0a\x0b\x0b" "B\x0a", true, "A B"},  // empty middle box
    };
    for (const Case& c : cases) {
        std::string row = Padded(c.row);
        std::string text = "stale";
        EXPECT_EQ(TXTSubtitle::ExtractSubtitleLine(reinterpret_cast<const unsigned char*>(row.data()), text),
                  c.found)
            << c.text;
        if (c.found) {
            EXPECT_EQ(text, c.text);
        }
    }
    // A start-box pair in the last two columns opens nothing; one at 37-38
    // opens a box of one column.
    std::string edge = std::string("\x0d") + std::string(37, ' ') + "\x0b\x0b";
    std::string text;
    EXPECT_FALSE(TXTSubtitle::ExtractSubtitleLine(reinterpret_cast<const unsigned char*>(edge.data()), text));
    edge = std::string("\x0d") + std::string(36, ' ') + "\x0b\x0bZ";
    EXPECT_TRUE(TXTSubtitle::ExtractSubtitleLine(reinterpret_cast<const unsigned char*>(edge.data()), text));
    EXPECT_EQ(text, "Z");
}

TEST(TXTExtraction, DumpPageFormat) {
    TXTSubtitle txt;
    unsigned char page[TXTSubtitle::kRows][TXTSubtitle::kColumns];
    memset(page, ' ', sizeof page);
    page[2][0] = 0x0D;
    page[2][1] = 'x';
    testing::internal::CaptureStderr();
    txt.DumpPage(&page[0][0]);
    std::string out = testing::internal::GetCapturedStderr();
    std::string expected;
    for (int r = 0; r < 23; ++r)
        expected += "r=" + std::to_string(r) + "[" + (r == 2 ? Padded("_x") : Padded("")) + "]\n";
    EXPECT_EQ(out, expected);
}
