#include <gtest/gtest.h>

#include <map>
#include <string>

#include "config/Translator.h"
#include "support/TempRoot.h"

// Exported by libzvbi 0.2 but not declared in its header: the Unicode code
// point of character `c` of character set `s`, national option subset `n`.
extern "C" unsigned int vbi_teletext_unicode(int s, int n, unsigned int c);

namespace {

unsigned long Tr(Translator& translator, unsigned long code) { return translator.Translate(code); }

class TranslatorTest : public testing::Test {
protected:
    // Writes the translation file, selects `country` and returns the log.
    std::string Select(const std::string& file, const std::string& country) {
        root.Write("/etc/TEKO.translation", file);
        testing::internal::CaptureStderr();
        translator.Load();
        translator.SelectCountryCode(country);
        return testing::internal::GetCapturedStderr();
    }

    TempRoot root;
    Translator translator;
};

TEST_F(TranslatorTest, SelectsTheFirstTableListingTheCountry) {
    const std::string file =
        "any text before the tables\n"
        "BeginTable:swe,fin\n[:196\nEndTable:\n"
        "BeginTable:fin\n[:1\n]:2\nEndTable\n";
    EXPECT_EQ(Select(file, "fin"),
              "TEKO: Translator: CC=fin\nTEKO: Load Translation from: /etc/TEKO.translation\n");
    EXPECT_EQ(Tr(translator, 91), 196u);
    EXPECT_EQ(Tr(translator, 93), 93u);  // the second table is not read
    EXPECT_EQ(Tr(translator, 65), 65u);

    Select(file, "deu");  // no table: the previous one is gone
    for (unsigned long code = 0; code < 300; ++code) EXPECT_EQ(Tr(translator, code), code);
}

TEST_F(TranslatorTest, MappingLineRules) {
    Select("BeginTable:swe\n"
           "#:163\n"          // the character # itself
           "##:35\n"          // a comment, not a second mapping for #
           ":65\n"            // empty key: code 0
           "A:66 tail\n"      // number then anything
           "B:x\n"            // no number: identity
           "C\n"              // no colon: the value is the whole line
           "D:-1\n"
           "\xc3:200\n"       // above 127: ignored
           "BeginTable:swe\n"  // inside a table: a mapping for B
           "E:0\n"
           "EndTable\n"
           "F:70\n",
           "swe");
    EXPECT_EQ(Tr(translator, 35), 163u);
    EXPECT_EQ(Tr(translator, 0), 65u);
    EXPECT_EQ(Tr(translator, 'A'), 66u);
    EXPECT_EQ(Tr(translator, 'B'), 0u + 'B');  // "swe" parses as no number
    EXPECT_EQ(Tr(translator, 'C'), 0u + 'C');
    EXPECT_EQ(Tr(translator, 'D'), static_cast<unsigned long>(-1L));
    EXPECT_EQ(Tr(translator, 0xc3), 0xc3u);
    EXPECT_EQ(Tr(translator, 'E'), 0u + 'E');
    EXPECT_EQ(Tr(translator, 'F'), 0u + 'F');  // after EndTable
}

TEST_F(TranslatorTest, CarriageReturnsAndUnendedTables) {
    // With CR LF ends "EndTable\r" is no end: the table runs on to the file's end.
    Select("BeginTable:swe\r\n[:196\r\nEndTable\r\nBeginTable:eng\r\n]:197\r\n", "swe");
    EXPECT_EQ(Tr(translator, '['), 196u);
    EXPECT_EQ(Tr(translator, ']'), 197u);
}

TEST_F(TranslatorTest, MissingFileAndReselectionReread) {
    Select("BeginTable:swe\n[:196\nEndTable\n", "swe");
    EXPECT_EQ(Tr(translator, '['), 196u);
    Select("BeginTable:swe\n[:198\nEndTable\n", "swe");
    EXPECT_EQ(Tr(translator, '['), 198u);

}

// A file that cannot be the tables is told once per state, and the
// shipped tables built into the daemon are used instead of raw codes.
TEST_F(TranslatorTest, BrokenFilesFallBackOnTheBuiltInTables) {
    const struct {
        bool present;
        std::string file;
        const char* said;  // null: not told again
    } kCases[] = {
        {false, "", "missing"}, {false, "", nullptr}, {true, "", "empty"},
        {true, std::string("BeginTable:swe\n\0\1", 17), "binary"}, {true, "plain text\n", "not a table"},
    };
    for (const auto& c : kCases) {
        if (c.present)
            root.Write("/etc/TEKO.translation", c.file);
        else
            root.Remove("/etc/TEKO.translation");
        testing::internal::CaptureStderr();
        translator.Load();
        translator.SelectCountryCode("swe");
        const std::string log = testing::internal::GetCapturedStderr();
        const std::string told = std::string("TEKO: Translation file /etc/TEKO.translation is ") +
                                 (c.said ? c.said : "") + "; using the built-in tables\n";
        EXPECT_EQ(log.find("Translation file") != std::string::npos, c.said != nullptr) << log;
        if (c.said) {
            EXPECT_EQ(log.substr(0, told.size()), told);
        }
        EXPECT_EQ(Tr(translator, '['), 196u);  // the built-in Swedish Ä
    }
}

TEST_F(TranslatorTest, HugeAndBinaryFilesAreReadWithoutFault) {
    std::string file = "BeginTable:swe\n" + std::string(4 << 20, 'x') + ":1\n";
    for (int i = 0; i < 8192; ++i) file += static_cast<char>((i * 37 + 11) & 0xff);
    file += "\n[:196\n";
    Select(file, "swe");
    EXPECT_EQ(Tr(translator, '['), 196u);
}

// The shipped file, checked against libzvbi's Latin G0 national option
// subsets (EN 300 706 table 36). libzvbi numbers the subsets 1 to 13.
struct Subset {
    int zvbi;
    const char* languages;
};
const Subset kSubsets[] = {
    {1, "cze,slo"}, {2, "eng"}, {3, "est"}, {4, "fre"}, {5, "ger"}, {6, "ita"},
    {7, "lav,lit"}, {8, "pol"}, {9, "spa,por"}, {10, "rum"}, {11, "scr,scc,slv,hrv"},
    {12, "swe,fin,hun"}, {13, "tur"}};

// Where the shipped table deliberately differs from libzvbi: the letter the
// language really uses, or a standard code point for libzvbi's private one.
const std::map<std::pair<int, unsigned>, unsigned long> kChosen = {
    {{13, 0x23}, 0x20BA},  // Turkish lira sign (libzvbi: private use U+E800)
    {{10, 0x5e}, 0x00CE},  // Romanian Î (libzvbi: Í with acute)
    {{10, 0x5d}, 0x0102},  // Romanian Ă (libzvbi: Ǎ with caron)
    {{10, 0x7d}, 0x0103},  // Romanian ă (libzvbi: ǎ)
    {{11, 0x5d}, 0x0110},  // Croatian Đ (libzvbi: Icelandic Ð)
    {{11, 0x7d}, 0x0111},  // Croatian đ (libzvbi: Icelandic ð)
    {{7, 0x5c}, 0x0119},   // Lithuanian ę with ogonek (libzvbi: ȩ with cedilla)
};

class ShippedTableTest : public testing::Test {
protected:
    ShippedTableTest() {
        root.Write("/etc/TEKO.translation", Slurp(TEKO_SOURCE_DIR "/data/TEKO.translation"));
    }
    static std::string Slurp(const std::string& path) {
        std::string text;
        FILE* file = fopen(path.c_str(), "rb");
        if (!file) return text;
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
        fclose(file);
        return text;
    }
    void Select(const std::string& country) {
        testing::internal::CaptureStderr();
        translator.Load();
        translator.SelectCountryCode(country);
        testing::internal::GetCapturedStderr();
    }

    TempRoot root;
    Translator translator;
};

TEST_F(ShippedTableTest, MatchesLibzvbiNationalSubsets) {
    for (const Subset& subset : kSubsets) {
        std::string languages = subset.languages;
        for (size_t at = 0; at < languages.size(); at += 4) {
            const std::string language = languages.substr(at, 3);
            Select(language);
            for (unsigned code = 0x20; code < 0x7f; ++code) {
                unsigned long expected = vbi_teletext_unicode(1, subset.zvbi, code);
                auto chosen = kChosen.find({subset.zvbi, code});
                if (chosen != kChosen.end()) {
                    EXPECT_NE(expected, chosen->second);  // still a real difference
                    expected = chosen->second;
                }
                EXPECT_EQ(Tr(translator, code), expected)
                    << language << " code 0x" << std::hex << code;
                EXPECT_FALSE(expected >= 0xE000 && expected <= 0xF8FF) << language;
            }
        }
    }
}

TEST_F(ShippedTableTest, DanishAndNorwegianUseTheSwedishPositions) {
    const std::map<unsigned, unsigned long> letters = {
        {0x5b, 0xC6}, {0x5c, 0xD8}, {0x5d, 0xC5}, {0x7b, 0xE6}, {0x7c, 0xF8}, {0x7d, 0xE5}};
    for (const char* language : {"dan", "nor"}) {
        Select(language);
        for (unsigned code = 0x20; code < 0x7f; ++code) {
            auto letter = letters.find(code);
            const unsigned long expected = letter != letters.end()
                                               ? letter->second
                                               : vbi_teletext_unicode(1, 12, code);
            EXPECT_EQ(Tr(translator, code), expected) << language << " 0x" << std::hex << code;
        }
    }
}

// The Greek and Cyrillic G0 sets (EN 300 706 tables 34 and 33), numbered
// by libzvbi 7 (Greek), 4 (Cyrillic option 2) and 5 (option 3). Where
// libzvbi's letter is not the language's, the table has the real one.
TEST_F(ShippedTableTest, GreekAndCyrillicSetsMatchLibzvbi) {
    const struct {
        int zvbi;
        const char* languages;
        std::map<unsigned, unsigned long> chosen;
    } sets[] = {
        {7, "gre,ell", {}},
        // Й й, the short i (libzvbi: Ѝ ѝ, i with grave, not a Russian letter).
        {4, "rus,bul", {{0x4a, 0x0419}, {0x6a, 0x0439}}},
        // The same, and the Ukrainian yi ї (libzvbi: Latin ï).
        {5, "ukr", {{0x4a, 0x0419}, {0x6a, 0x0439}, {0x26, 0x0457}}},
    };
    for (const auto& set : sets) {
        std::string languages = set.languages;
        for (size_t at = 0; at < languages.size(); at += 4) {
            const std::string language = languages.substr(at, 3);
            Select(language);
            for (unsigned code = 0x20; code < 0x7f; ++code) {
                unsigned long expected = vbi_teletext_unicode(set.zvbi, 0, code);
                auto chosen = set.chosen.find(code);
                if (chosen != set.chosen.end()) {
                    EXPECT_NE(expected, chosen->second);
                    expected = chosen->second;
                }
                EXPECT_EQ(Tr(translator, code), expected) << language << " code 0x" << std::hex << code;
            }
        }
    }
}

TEST_F(ShippedTableTest, EveryCodeOutsideTheTablesIsItself) {
    Select("xyz");
    for (unsigned long code = 0; code < 300; ++code) EXPECT_EQ(Tr(translator, code), code);
}

}  // namespace
