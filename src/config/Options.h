// The configuration as the daemon's parts use it: typed values, read from
// the settings store once per load and checked there, handed to each part
// by value. Nothing outside config/ looks a setting up by its key.
#pragma once

#include <array>
#include <string>

class Settings;

namespace config {

// The Teletext line layout of one picture format ("FontSize", "RowSpace",
// "StartYPos", "ExtraYSize", or their "Wide" forms for 16:9).
struct TeletextLayout {
    int fontSize = 0;
    int rowSpace = 0;
    int startYPos = 0;
    int extraYSize = 0;
};

// How Teletext subtitles are drawn. Colours are raw 0xRRGGBBAA for 32-bit
// screens, palette indexes for the others.
struct TeletextStyle {
    TeletextLayout fourThree, wide;
    int startXPos = 0;
    int centerText = 0;
    int useBackground = 0;
    int outlineSize = 2;
    int textColor = 0, outlineColor = 0, backgroundColor = 0;
    int paletteTextColor = 0, paletteOutlineColor = 0, paletteBackgroundColor = 0;
    // 0 draws other displays over, 1 holds subtitles back while one shows,
    // 2 moves them above it (or below) where they fit.
    int collisionDetection = 1;
    // 1: each run in its broadcast colour (white ones in textColor); 0: all
    // in textColor.
    int teletextColors = 1;
    // One-byte screens: the palette index of each Teletext colour (black,
    // red, green, yellow, blue, magenta, cyan, white); unset, all runs use
    // paletteTextColor.
    std::array<int, 8> paletteTeletextColors{};
    bool paletteTeletextColorsSet = false;
};

struct DvbOptions {
    int maxShowTime = 0;  // seconds a page may stay at most; 0: as it says
    int collisionDetection = 1;  // as for Teletext
    int yOffset = 0;  // lines of a 576-line screen, negative up
    int zoom = 100;   // percent, about the bottom centre of the subtitle
    int background = 0;  // 1: a box behind the subtitle's opaque extent
    int backgroundColor = 0x00000080;  // 0xRRGGBBAA
    int paletteBackgroundColor = 24;
};

// Which subtitles to look for.
struct SubtitleChoice {
    int useExternalChannels = 0;
    std::string language, secondaryLanguage;
    int subtileType = 0;
    int useDVBFirst = 0;
};

struct Options {
    TeletextStyle teletext;
    DvbOptions dvb;
    SubtitleChoice choice;
    std::string font;
    int recDelay = 0;     // seconds Teletext is held back while a recording plays
    int osdMessages = 0;  // 1: the status line
};

// Every typed value of the store. A value that is no number, or out of its
// key's range, is logged once ("Setting FontSize: -5 is out of range 8
// to 255, using 28") and the built-in default is used.
Options ReadOptions(Settings& settings);

}  // namespace config
