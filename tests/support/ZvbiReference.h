// libzvbi as the independent reference of the Teletext subtitle pages a
// stream carries: the boxed double-height rows of a page, decoded at
// VBI_WST_LEVEL_2p5 and normalised (trimmed, blank runs collapsed), with
// the PES packet whose arrival completed the page. Link zvbi-0.2 to use it
// (see tests/e2e/extra.cmake); without libzvbi, Available() is false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace ttxref {

struct Line {
    int row;
    std::string text;  // UTF-8, normalised
    // The foreground colours of its characters left to right, each colour
    // once per stretch (0-7: black, red, green, yellow, blue, magenta,
    // cyan, white); not compared.
    std::vector<int> colours;
    Line(int r, std::string t, std::vector<int> c = {}) : row(r), text(std::move(t)), colours(std::move(c)) {}
    bool operator==(const Line& o) const { return row == o.row && text == o.text; }
};
// For gtest's messages.
inline void PrintTo(const Line& line, std::ostream* out) { *out << line.row << ": " << line.text; }

struct Page {
    size_t pes;  // index of the PES packet whose feed completed the page
    std::vector<Line> lines;
};

bool Available();
// The pages of `pageNumber` (magazine 0 written as 8, e.g. 0x889) that
// hold text, in the order libzvbi completes them.
// `region` (EN 300 706 table 32 code, national option bits clear), when not
// negative, is handed to vbi_teletext_set_default_region: it picks the G0
// set of pages that carry no designation of their own.
std::vector<Page> ZvbiPages(const std::vector<std::vector<uint8_t>>& pes, int pageNumber, int region = -1);

// Leading and trailing blanks trimmed, runs of blanks collapsed to one.
inline std::string Normalise(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

}  // namespace ttxref
