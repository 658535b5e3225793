// The configuration "/etc/TEKO.conf" on arbitrary bytes, loaded over the
// built-in store and read as the typed options. Whatever the file says, the
// values the display and the decoders size things by stay in their ranges.
#include <cstdint>
#include <cstdlib>

#include "FileRoot.h"
#include "config/Options.h"
#include "config/Settings.h"
#include "platform/Paths.h"

namespace {
bool In(int value, int min, int max) { return value >= min && value <= max; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzroot::Write(paths::kConfig, data, size);
    Settings settings;
    if (settings.LoadFromFile(paths::kConfig) != 1) abort();
    const config::Options o = config::ReadOptions(settings);
    const config::TeletextStyle& t = o.teletext;
    if (!In(t.fourThree.fontSize, 8, 255) || !In(t.wide.fontSize, 8, 255) || !In(t.outlineSize, 0, 32) ||
        !In(t.collisionDetection, 0, 2) || !In(o.dvb.zoom, 100, 200) || !In(o.dvb.maxShowTime, 0, 3600))
        abort();
    if (t.paletteTeletextColorsSet)
        for (int index : t.paletteTeletextColors)
            if (!In(index, 0, 255)) abort();
    return 0;
}
