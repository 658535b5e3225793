// Builder-made pages against libzvbi (VBI_WST_LEVEL_2p5): X/26 enhancement
// packets of every kind a Level 1.5 decoder honours, and pages in the
// Greek and Cyrillic G0 sets.
#include <gtest/gtest.h>

#include <cstdio>

#include "ZvbiCompare.h"
#include "Scripts.h"
#include "support/TeletextBuilder.h"

namespace {

using ttx::Bytes;
using ttx::Triplet;
using zvbicmp::Describe;
using zvbicmp::Page;

// Page 150: a header with the national option, the rows, the X/26 packets
// (with bits flipped after coding where asked), then the header of the
// magazine's next page, which completes it.
struct Flip {
    int packet, byte, bit;  // packet index among `enhancements`
};
std::vector<Bytes> Stream(int nationalOption, const std::vector<std::pair<int, std::string>>& rows,
                          const std::vector<Bytes>& enhancements, const std::vector<Flip>& flips = {}) {
    ttx::Header header;
    header.magazine = 1;
    header.page = 0x50;
    header.nationalOption = nationalOption;
    std::vector<Bytes> units = {ttx::DataUnit(ttx::HeaderPacket(header))};
    for (const auto& row : rows) units.push_back(ttx::DataUnit(ttx::RowPacket(1, row.first, row.second)));
    for (size_t k = 0; k < enhancements.size(); ++k) {
        Bytes packet = enhancements[k];
        for (const Flip& f : flips)
            if (f.packet == int(k)) packet = ttx::FlipBit(packet, f.byte, f.bit);
        units.push_back(ttx::DataUnit(packet));
    }
    // libzvbi ends a page at the next header of its own magazine.
    ttx::Header next;
    next.magazine = 1;
    next.page = 0x51;
    units.push_back(ttx::DataUnit(ttx::HeaderPacket(next)));
    // libzvbi's demultiplexer hands a unit on when the next PES arrives.
    next.page = 0x52;
    units.push_back(ttx::DataUnit(ttx::HeaderPacket(next)));
    std::vector<Bytes> pes;
    int64_t pts = 90000;
    for (const Bytes& unit : units) pes.push_back(ttx::Pes({unit}, pts += 3600));
    return pes;
}

// Our lines of the one page, and libzvbi's; both printed.
void ExpectSame(const std::vector<Bytes>& pes, const std::string& language, int region, const std::string& what) {
    std::vector<Page> ours = zvbicmp::OurPages(pes, 0x150, language);
    std::vector<Page> theirs = zvbicmp::ReferencePages(pes, 0x150, region);
    ASSERT_EQ(ours.size(), 1u) << what;
    ASSERT_EQ(theirs.size(), 1u) << what;
    std::printf("%s:\n%s", what.c_str(), Describe(ours[0]).c_str());
    EXPECT_EQ(ours[0], theirs[0]) << what << "\nours:\n" << Describe(ours[0]) << "libzvbi:\n" << Describe(theirs[0]);
}

constexpr int kSwedish = 2;  // national option of the Swedish subset in region 0
constexpr int kText = 3;     // first text column of a subtitle row

class X26Reference : public testing::Test {
protected:
    void SetUp() override {
        if (!ttxref::Available()) GTEST_SKIP() << "libzvbi (zvbi-0.2) is not installed";
    }
};

TEST_F(X26Reference, G2CharactersAndDiacriticsOnSeveralRows) {
    // "Ole sa: Ga ut" with Ø; "Jose e Ceska" with é, Č, š; "a*b" with @.
    auto pes = Stream(kSwedish, {{20, ttx::SubtitleRow("Ole sa: Ga ut")}, {22, ttx::SubtitleRow("Jose e Ceska a*b")}},
                      {ttx::EnhancementPacket(1, 0, {ttx::SetRow(20), ttx::G2Char(kText, 0x69),
                                                     ttx::Accented(kText + 8, 0xA, 'a'), ttx::SetRow(22),
                                                     ttx::Accented(kText + 3, 2, 'e'), ttx::Accented(kText + 7, 0xF, 'C'),
                                                     ttx::Accented(kText + 9, 0xF, 's'), ttx::Accented(kText + 14, 0, '*'),
                                                     ttx::G2Char(kText + 5, 0x23), ttx::Termination()})});
    ExpectSame(pes, "swe", -1, "G2 and diacritics");
}

TEST_F(X26Reference, EveryMarkOnItsLetters) {
    // One mark a row pair; letters that Latin-1 and Latin Extended-A compose.
    const struct {
        int mark;
        const char* letters;
    } marks[] = {{1, "aeiou"}, {2, "cnszy"}, {3, "cghjw"}, {4, "ainou"}, {5, "aeiou"}, {6, "aegou"},
                 {7, "cegz"},  {8, "aeouy"}, {0xA, "auAU"}, {0xB, "cgkst"}, {0xD, "ouOU"}, {0xE, "aeiu"},
                 {0xF, "cdenz"}};
    for (const auto& m : marks) {
        std::string text = m.letters;
        std::vector<Triplet> triplets = {ttx::SetRow(21)};
        for (size_t k = 0; k < text.size(); ++k) triplets.push_back(ttx::Accented(kText + int(k), m.mark, text[k]));
        auto pes = Stream(kSwedish, {{21, ttx::SubtitleRow(text)}}, {ttx::EnhancementPacket(1, 0, triplets)});
        ExpectSame(pes, "swe", -1, "mark " + std::to_string(m.mark));
    }
}

TEST_F(X26Reference, TwoPacketsAndRowsThePageLacks) {
    // Packet 0 is full, so packet 1 follows it. Row 5 (not on the page) and
    // row 24 take characters that show nowhere; the rows may come in any
    // order, and a new row starts again at column 0.
    std::vector<Triplet> first = {ttx::SetRow(22), ttx::Accented(kText + 5, 2, 'i'), ttx::SetRow(5),
                                  ttx::G2Char(10, 0x23), ttx::SetRow(24), ttx::G2Char(1, 0x24), ttx::SetRow(20)};
    while (first.size() < 13) first.push_back(ttx::Accented(kText + 2, 8, 'u'));
    auto pes = Stream(kSwedish, {{20, ttx::SubtitleRow("Gruss Gott")}, {22, ttx::SubtitleRow("Bon dia")}},
                      {ttx::EnhancementPacket(1, 0, first),
                       ttx::EnhancementPacket(1, 1, {ttx::SetRow(22), ttx::Accented(kText + 1, 2, 'o'),
                                                     ttx::Accented(kText + 6, 1, 'a')})});
    ExpectSame(pes, "swe", -1, "two packets");
}

TEST_F(X26Reference, SingleBitErrorsAreCorrectedAndWorseTripletsDropped) {
    auto packet = ttx::EnhancementPacket(1, 0, {ttx::SetRow(20), ttx::Accented(kText, 2, 'e'),
                                                ttx::Accented(kText + 1, 8, 'o'), ttx::G2Char(kText + 2, 0x7B)});
    // One bit of triplet 1 (a data bit) and one of triplet 0 (a check bit);
    // two bits of triplet 2: the ö is not shown.
    std::vector<Flip> flips = {{0, ttx::TripletByte(1) + 1, 3}, {0, ttx::TripletByte(0), 0},
                               {0, ttx::TripletByte(2), 2}, {0, ttx::TripletByte(2) + 2, 5}};
    auto pes = Stream(kSwedish, {{20, ttx::SubtitleRow("eos")}}, {packet}, flips);
    ExpectSame(pes, "swe", -1, "bit errors");
}

TEST_F(X26Reference, ActivePositionOnlyMovesForwardAlongARow) {
    // Back to column 3 after column 4 of the same row: the character lands
    // on column 4, over the one placed there.
    auto pes = Stream(kSwedish, {{20, ttx::SubtitleRow("abcd")}, {22, ttx::SubtitleRow("efgh")}},
                      {ttx::EnhancementPacket(1, 0, {ttx::SetRow(22), ttx::Accented(kText + 3, 2, 'e'),
                                                     ttx::SetRow(20), ttx::Accented(kText + 1, 8, 'a'),
                                                     ttx::Accented(kText, 8, 'o')})});
    ExpectSame(pes, "swe", -1, "forward only");
}

TEST_F(X26Reference, AnUncorrectableTripletIsDroppedWithTheCharactersOfItsUnknownRow) {
    // The é is lost, and the ć after it has no known row: neither shows.
    // (What follows a later row address differs from libzvbi, which ends
    // the enhancement at the lost triplet; see EnhancedPage.)
    auto pes = Stream(kSwedish, {{20, ttx::SubtitleRow("abcd")}},
                      {ttx::EnhancementPacket(1, 0, {ttx::SetRow(20), ttx::Accented(kText, 2, 'a'),
                                                     ttx::Accented(kText + 1, 2, 'e'), ttx::Accented(kText + 2, 2, 'c')})},
                      {{0, ttx::TripletByte(2), 2}, {0, ttx::TripletByte(2) + 1, 5}});
    ExpectSame(pes, "swe", -1, "uncorrectable");
}

TEST_F(X26Reference, TerminationEndsTheEnhancement) {
    auto pes = Stream(kSwedish, {{20, ttx::SubtitleRow("abc")}},
                      {ttx::EnhancementPacket(1, 0, {ttx::SetRow(20), ttx::Accented(kText, 2, 'a'), ttx::Termination(),
                                                     ttx::Accented(kText + 1, 2, 'e')}),
                       ttx::EnhancementPacket(1, 1, {ttx::SetRow(20), ttx::Accented(kText + 2, 2, 'c')})});
    ExpectSame(pes, "swe", -1, "termination");
}

}  // namespace

namespace {

TEST(ScriptReference, GreekAndCyrillicPagesMatchLibzvbi) {
    if (!ttxref::Available()) GTEST_SKIP() << "libzvbi (zvbi-0.2) is not installed";
    for (const scripts::Script& s : scripts::kScripts) {
        const std::string row20 = scripts::Encode(s.row20, s.language), row22 = scripts::Encode(s.row22, s.language);
        ASSERT_EQ((row20 + row22).find('\x01'), std::string::npos) << s.name;
        auto pes = Stream(s.nationalOption, {{20, ttx::SubtitleRow(row20)}, {22, ttx::SubtitleRow(row22)}}, {});
        ExpectSame(pes, s.language, s.region, s.name);
        // And the text is the one meant.
        std::vector<Page> ours = zvbicmp::OurPages(pes, 0x150, s.language);
        ASSERT_EQ(ours.size(), 1u);
        EXPECT_EQ(ours[0], (Page{{20, s.row20}, {22, s.row22}})) << s.name;
    }
}

}  // namespace
