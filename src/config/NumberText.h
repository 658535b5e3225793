// Reading the number at the start of a text, as the C and C++ libraries'
// integer conversions do ("%d", a stream extraction with std::dec or
// std::hex): leading white space, an optional sign, for base 16 an optional
// 0x prefix, then digits up to the first other character. A value outside
// the int range saturates (as a stream extraction does) instead of being
// undefined.
#pragma once

#include <climits>
#include <cstdlib>

// True and the number in `out` when the text starts with one; false and
// `out` untouched otherwise.
inline bool ReadLeadingInt(const char* text, int base, int& out) {
    char* end = nullptr;
    const long number = std::strtol(text, &end, base);
    if (end == text) return false;
    if (number > INT_MAX) {
        out = INT_MAX;
    } else if (number < INT_MIN) {
        out = INT_MIN;
    } else {
        out = static_cast<int>(number);
    }
    return true;
}
