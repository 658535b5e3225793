// The simulator's palette file on arbitrary bytes: a parse either fails
// whole, leaving the colours as they were, or sets only the entries named.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Palette.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Palette::Colours colours = Palette::Default();
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!Palette::Parse(text, colours, error) && colours != Palette::Default()) abort();
    return 0;
}
