#include "Palette.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "dvbsub/subtitle.h"

namespace {

constexpr uint32_t kBaseColours[16] = {
    0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
    0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFC0C0C0, 0xFF606060, 0xFF800000,
    0xFF008000, 0xFF808000, 0xFF000080, 0xFF008080,
};
constexpr int kDefaultBlack = 24;
constexpr int kDefaultWhite = 31;
constexpr int kDvbClutBase = 0xF0;
// A palette file is a few hundred lines; anything far larger is not one.
constexpr size_t kMaxFileBytes = 64 * 1024;

Palette::Colours MakeDefault() {
    Palette::Colours colours{};
    for (int i = 0; i < 256; ++i) colours[i] = 0xFF000000u | uint32_t(i) << 16 | uint32_t(i) << 8 | uint32_t(i);
    for (int i = 0; i < 16; ++i) colours[i] = kBaseColours[i];
    colours[kDefaultBlack] = 0xFF000000u;
    colours[kDefaultWhite] = 0xFFFFFFFFu;
    for (int i = 0; i < 16; ++i) {
        // The decoder's colours are 0xRRGGBBAA.
        const uint32_t rgba = uint32_t(subtitle_default_color(i));
        colours[kDvbClutBase + i] = (rgba & 0xFF) << 24 | rgba >> 8;
    }
    return colours;
}

bool ParseNumber(const std::string& word, unsigned long max, unsigned long& out) {
    if (word.empty() || word[0] == '-' || word[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    out = strtoul(word.c_str(), &end, 0);
    return errno == 0 && end && *end == '\0' && out <= max;
}

}  // namespace

const Palette::Colours& Palette::Default() {
    static const Colours colours = MakeDefault();
    return colours;
}

bool Palette::Parse(const std::string& text, Colours& colours, std::string& error) {
    Colours parsed = colours;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string index, colour, extra;
        if (!(words >> index)) continue;
        unsigned long i = 0, argb = 0;
        const bool ok = (words >> colour) && !(words >> extra) && ParseNumber(index, 255, i) &&
                        colour.size() == 10 && colour.compare(0, 2, "0x") == 0 &&
                        ParseNumber(colour, 0xFFFFFFFFul, argb);
        if (!ok) {
            error = "line " + std::to_string(number) + ": not INDEX 0xAARRGGBB (INDEX 0-255)";
            return false;
        }
        parsed[i] = uint32_t(argb);
    }
    colours = parsed;
    return true;
}

bool Palette::Load(const std::string& path, Colours& colours, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::string text(kMaxFileBytes + 1, '\0');
    in.read(&text[0], std::streamsize(text.size()));
    text.resize(size_t(in.gcount()));
    if (text.size() > kMaxFileBytes) {
        error = path + ": larger than a palette file (" + std::to_string(kMaxFileBytes) + " bytes)";
        return false;
    }
    colours = Default();
    if (Parse(text, colours, error)) return true;
    error = path + ": " + error;
    return false;
}
