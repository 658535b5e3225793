// How often a text occurs in another (lines of a captured log, say),
// overlapping occurrences counted.
#pragma once

#include <string>

inline int CountOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}
