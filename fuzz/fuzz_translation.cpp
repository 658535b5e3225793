// The translation table "/etc/TEKO.translation" on arbitrary bytes, loaded
// and a table selected for a Latin, a Greek and a Cyrillic language, the
// Teletext decoder's national set taken from each: every entry of a set is
// a Unicode scalar value whatever the file maps.
#include <cstdint>
#include <cstdlib>

#include "FileRoot.h"
#include "config/Translator.h"
#include "platform/Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzroot::Write(paths::kTranslation, data, size);
    Translator translator;
    translator.Load();
    for (const char* code : {"swe", "gre", "rus"}) {
        translator.SelectCountryCode(code);
        for (uint32_t entry : translator.Set())
            if (entry > 0x10FFFF || (entry >= 0xD800 && entry <= 0xDFFF)) abort();
        for (unsigned long c = 0; c < 256; ++c) translator.Translate(c);
    }
    return 0;
}
