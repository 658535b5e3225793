// The 8-bit screen's palette, which on a box the front end programs for
// its OSD and the emulator stands in for: 256 colours, 0xAARRGGBB.
//
// The default is what the daemon's default settings mean on such a box:
//   0x00: transparent;
//   0x01-0x0F: 1 white, 2 black, 3 red, 4 green, 5 yellow, 6 blue,
//     7 magenta, 8 cyan, 9 light grey, 10 dark grey, 11 dark red,
//     12 dark green, 13 olive, 14 dark blue, 15 dark cyan, all opaque;
//   0x10-0xEF: opaque grey of level equal to the index, except 24 (black:
//     "PaletteOutlineColor" and "PaletteBackgroundColor") and 31 (white:
//     "PaletteTextColor");
//   0xF0-0xFF: the DVB 4-bit default CLUT (EN 300 743 §10.2), entry
//     index & 0x0F, 0xF0 transparent: the indexes the DVB decoder's
//     8-bit rule writes.
//
// A palette file names the entries that differ, one a line:
//   INDEX 0xAARRGGBB
// INDEX decimal or 0x hexadecimal (0-255); '#' starts a comment; blank
// lines are skipped.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class Palette {
public:
    using Colours = std::array<uint32_t, 256>;

    static const Colours& Default();

    // Applies the lines of `text` over `colours`; false with the first bad
    // line's number and what is wrong in `error` (nothing applied).
    static bool Parse(const std::string& text, Colours& colours, std::string& error);
    // Reads a palette file over the default palette.
    static bool Load(const std::string& path, Colours& colours, std::string& error);
};
