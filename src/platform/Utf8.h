// UTF-8, the form text takes from page assembly to the text renderer.
// Bytes that do not form a valid sequence stand for themselves (code
// points 0x80-0xFF), so any byte string can be drawn.
#pragma once

#include <cstddef>
#include <string>

namespace utf8 {

inline void Append(std::string& out, unsigned long c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | ((c >> 18) & 0x07));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The code point at text[at] (at < size), and in `used` how many bytes it
// takes. Overlong forms, surrogates and values beyond U+10FFFF are not
// valid sequences.
inline unsigned long Next(const unsigned char* text, size_t size, size_t at, size_t& used) {
    const unsigned char lead = text[at];
    used = 1;
    if (lead < 0xC2 || lead > 0xF4) return lead;
    const size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (size - at < length) return lead;
    unsigned long c = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((text[at + k] & 0xC0) != 0x80) return lead;
        c = c << 6 | (text[at + k] & 0x3F);
    }
    static const unsigned long kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return lead;
    used = length;
    return c;
}

}  // namespace utf8
