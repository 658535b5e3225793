// The X/26 decoding: Hamming 24/18 against a reference over every 24-bit
// word, the G2 and composed letters against libzvbi over every code, and
// how the client keeps, replaces and erases a page's enhancement.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "TxtTestSupport.h"
#include "teletext/TeletextEnhancement.h"

extern "C" unsigned int vbi_teletext_unicode(int s, int n, unsigned int c);
extern "C" unsigned int vbi_teletext_composed_unicode(unsigned int a, unsigned int c);

namespace {

// Every codeword and every word one bit away from one decodes to the
// codeword's data; nothing else decodes (codewords lie four bits apart).
// The codewords come from the coding rule written out bit by bit.
uint32_t ReferenceEncode(uint32_t data) {
    const int positions[18] = {3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19, 20, 21, 22, 23};
    int bit[25] = {};
    for (int i = 0; i < 18; ++i) bit[positions[i]] = (data >> i) & 1;
    for (int parity : {1, 2, 4, 8, 16}) {
        int sum = 0;
        for (int p = 1; p <= 23; ++p)
            if ((p & parity) && p != parity) sum ^= bit[p];
        bit[parity] = sum ^ 1;  // odd parity over the check's positions
    }
    int all = 0;
    for (int p = 1; p <= 23; ++p) all ^= bit[p];
    bit[24] = all ^ 1;
    uint32_t w = 0;
    for (int p = 1; p <= 24; ++p) w |= uint32_t(bit[p]) << (p - 1);
    return w;
}

TEST(Hamming2418, EveryWordAgainstTheCodewordsAndTheirNeighbours) {
    std::unique_ptr<uint32_t[]> expected(new uint32_t[1u << 24]);
    for (uint32_t w = 0; w < (1u << 24); ++w) expected[w] = teletext::kTripletError;
    for (uint32_t d = 0; d < (1u << 18); ++d) {
        const uint32_t code = ReferenceEncode(d);
        ASSERT_EQ(teletext::HammingEncode2418(d), code) << d;
        expected[code] = d;
        for (int b = 0; b < 24; ++b) expected[code ^ (1u << b)] = d;
    }
    uint32_t wrong = 0;
    for (uint32_t w = 0; w < (1u << 24); ++w)
        wrong += teletext::Hamming2418(uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16)) != expected[w];
    EXPECT_EQ(wrong, 0u);
}

TEST(LatinSets, G2AndComposedLettersAgainstLibzvbi) {
    constexpr int kLatinG2 = 2;
    int extra = 0;
    for (unsigned code = 0x20; code < 0x80; ++code) {
        EXPECT_EQ(teletext::LatinG2(code), vbi_teletext_unicode(kLatinG2, 0, code)) << std::hex << code;
        for (unsigned mark = 0; mark < 16; ++mark) {
            const unsigned theirs = vbi_teletext_composed_unicode(mark, code);
            const unsigned ours = teletext::ComposeLatin(mark, code);
            if (theirs != 0) {
                EXPECT_EQ(ours, theirs) << "mark " << mark << " code " << std::hex << code;
            } else {
                // libzvbi composes into Latin-1 and Latin Extended-A only and
                // gives 0 for the rest; we draw what Unicode composes (Ǎ, Ǵ,
                // Ẽ ...) or the bare letter.
                EXPECT_NE(ours, 0u);
                extra += ours != teletext::ComposeLatin(0, code);
            }
        }
    }
    EXPECT_GT(extra, 0);
    EXPECT_EQ(teletext::ComposeLatin(1, 'd'), 'd');       // no precomposed d with grave
    EXPECT_EQ(teletext::ComposeLatin(0xF, 'A'), 0x01CDu);  // Ǎ, beyond libzvbi's table
}

// Page 888 with one subtitle row 22 "abc", completed by another header.
class EnhancedPage : public testing::Test {
protected:
    void SetUp() override {
        config::TeletextStyle style = FakeStyle();
        style.collisionDetection = 0;
        StartOnFake(txt, presenter, fake, 0x888, style);
        presenter.teletext.lineDrawn = [this](int, const std::string& text) { drawn.push_back(text); };
    }
    void Send(bool erase, std::vector<ttx::Bytes> packets) {
        packets.insert(packets.begin(), Head(8, 0x88, erase));
        packets.push_back(Head(1, 0x00));
        testing::internal::CaptureStderr();
        Feed(txt, packets);
        testing::internal::GetCapturedStderr();
    }
    static ttx::Bytes Acute(int column, char letter) {
        return ttx::EnhancementPacket(8, 0, {ttx::SetRow(22), ttx::Accented(column, 2, letter)});
    }
    FakeDisplay fake;
    render::Presenter presenter;
    TXTSubtitle txt;
    std::vector<std::string> drawn;
};

TEST_F(EnhancedPage, KeptWhenNotResentReplacedWhenResentErasedWithThePage) {
    const ttx::Bytes row = ttx::RowPacket(8, 22, ttx::SubtitleRow("abc"));
    Send(true, {row, Acute(3, 'a')});
    Send(false, {row});                // X/26 not sent again: kept (the same page, not drawn again)
    Send(false, {row, Acute(4, 'e')});  // designation 0 again: replaced
    Send(true, {row});                  // erase: gone
    EXPECT_EQ(drawn, (std::vector<std::string>{"\xC3\xA1" "bc", "a\xC3\xA9" "c", "abc"}));
}

TEST_F(EnhancedPage, OtherPagesEnhancementsAreIgnoredAndTheLogKeepsTheBytes) {
    ttx::Bytes otherMagazine = ttx::EnhancementPacket(1, 0, {ttx::SetRow(22), ttx::Accented(3, 2, 'a')});
    testing::internal::CaptureStderr();
    Feed(txt, {Head(8, 0x88), ttx::RowPacket(8, 22, ttx::SubtitleRow("abc")), otherMagazine,
               ttx::EnhancementPacket(8, 0, {ttx::SetRow(22), ttx::Accented(5, 0, '*')}), Head(1, 0x00)});
    std::string log = testing::internal::GetCapturedStderr();
    // Mode 0x10 shows 0x2A as "@", a final character that no table changes.
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0], "ab@");
    EXPECT_NE(log.find("Subtitle@22:abc\n"), std::string::npos) << log;
    ASSERT_FALSE(fake.texts.empty());
    EXPECT_EQ(fake.texts.back().text, drawn[0]);
}

TEST_F(EnhancedPage, AfterAnUncorrectableTripletTheNextRowAddressResumes) {
    // Triplet 2 (the é) has two wrong bits: it and the ć after it, whose row
    // it may have set, are dropped; the next row address brings the á back.
    ttx::Bytes packet = ttx::EnhancementPacket(
        8, 0, {ttx::SetRow(22), ttx::Accented(3, 2, 'a'), ttx::Accented(4, 2, 'e'), ttx::Accented(5, 2, 'c'),
               ttx::SetRow(22), ttx::Accented(6, 2, 'a')});
    packet = ttx::FlipBit(ttx::FlipBit(packet, ttx::TripletByte(2), 2), ttx::TripletByte(2) + 1, 5);
    Send(true, {ttx::RowPacket(8, 22, ttx::SubtitleRow("aeca")), packet});
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0], "\xC3\xA1" "ec" "\xC3\xA1");
}

TEST(EnhancedLine, ExtractionPutsEnhancedCharactersInTheDrawnTextOnly) {
    // Two boxes; an enhanced blank inside the first is not skipped, and a
    // colour code under an enhancement shows the enhancement.
    std::string row = Padded(std::string{0x0D, 0x0B, 0x0B, ' ', 'x', 0x07, 'y', 0x0A, 0x0B, 0x0B, 'z', 0x0A});
    uint16_t enhanced[40] = {};
    enhanced[3] = 0x00C5;  // Å over the blank
    enhanced[5] = 0x00E6;  // æ over the colour code
    pages::TeletextRow out;
    ASSERT_TRUE(TXTSubtitle::ExtractRow(reinterpret_cast<const unsigned char*>(row.data()), enhanced,
                                        pages::PlainSet(), out));
    EXPECT_EQ(out.bytes, " x y z");  // the blank under the Å starts the text
    EXPECT_EQ(Joined(out), "\xC3\x85x\xC3\xA6y z");
}

}  // namespace
