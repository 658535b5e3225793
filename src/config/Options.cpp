#include "config/Options.h"

#include <climits>
#include <cstdlib>
#include <sstream>

#include "config/Settings.h"
#include "platform/Log.h"

namespace config {
namespace {

// A key's range and the default that replaces a bad value.
struct IntKey {
    const char* key;
    int min, max;
    int preset;  // the default of keys the built-in store leaves out
};

class Reader {
public:
    explicit Reader(Settings& s) : settings_(s) {}

    int Int(const IntKey& k) {
        int fallback = k.preset;
        defaults_.GetValue(k.key, fallback);
        std::string text;
        if (settings_.GetValue(k.key, text) < 0) return fallback;
        char* end = nullptr;
        const long value = std::strtol(text.c_str(), &end, 10);
        if (text.empty() || end == text.c_str()) {
            eWarning("Setting %s: '%s' is not a number, using %d\n", k.key, Shown(text).c_str(), fallback);
            return fallback;
        }
        if (value < k.min || value > k.max) {
            eWarning("Setting %s: %ld is out of range %d to %d, using %d\n", k.key, value, k.min, k.max, fallback);
            return fallback;
        }
        return int(value);
    }
    int Hex(const char* key, int preset = 0) {
        int value = preset;
        std::string text;
        // Only a store that holds the key is asked (a missing key is no fault).
        if (defaults_.GetValue(key, text) >= 0) defaults_.GetValueHex(key, value);
        if (settings_.GetValue(key, text) >= 0) settings_.GetValueHex(key, value);
        return value;
    }
    // A list of palette indexes, "24,1,2,..."; false (said once) when the
    // key is unset or the list is not that many numbers 0-255.
    template <size_t N>
    bool Indexes(const char* key, std::array<int, N>& out) {
        std::string text;
        if (settings_.GetValue(key, text) < 0) return false;
        std::istringstream in(text);
        std::string item;
        size_t n = 0;
        bool ok = true;
        while (ok && std::getline(in, item, ',')) {
            char* end = nullptr;
            const long v = std::strtol(item.c_str(), &end, 10);
            ok = n < N && end != item.c_str() && v >= 0 && v <= 255;
            if (ok) out[n++] = int(v);
        }
        if (ok && n == N) return true;
        eWarning("Setting %s: '%s' is not %zu palette indexes 0 to 255, using none\n", key, Shown(text).c_str(), N);
        return false;
    }
    std::string Text(const char* key) {
        std::string value;
        defaults_.GetValue(key, value);
        settings_.GetValue(key, value);
        return value;
    }

private:
    // A value as the log line shows it: bounded, control bytes as '?'.
    static std::string Shown(const std::string& text) {
        std::string out = text.substr(0, 32);
        for (char& c : out)
            if (static_cast<unsigned char>(c) < 0x20) c = '?';
        return out;
    }
    Settings& settings_;
    Settings defaults_;
};

// Ranges: what a 720 x 576 surface can show (the display takes glyphs up to
// 255 pixels), with room for offsets that push text partly off it.
constexpr IntKey kFontSize{"FontSize", 8, 255, 28}, kWideFontSize{"WideFontSize", 8, 255, 28};
constexpr IntKey kRowSpace{"RowSpace", -50, 200, 0}, kWideRowSpace{"WideRowSpace", -50, 200, 0};
constexpr IntKey kStartYPos{"StartYPos", -576, 576, 0}, kWideStartYPos{"WideStartYPos", -576, 576, 0};
constexpr IntKey kExtraYSize{"ExtraYSize", -50, 200, 0}, kWideExtraYSize{"WideExtraYSize", -50, 200, 0};
constexpr IntKey kStartXPos{"StartXPos", -720, 720, 0};
// Keys whose every value means something ("other: never", "non-zero")
// take any number.
constexpr IntKey kCenterText{"CenterText", INT_MIN, INT_MAX, 0};
constexpr IntKey kUseBackground{"UseBackground", INT_MIN, INT_MAX, 0};
constexpr IntKey kOutlineSize{"OutlineSize", 0, 32, 2};
constexpr IntKey kPaletteText{"PaletteTextColor", 0, 255, 31}, kPaletteOutline{"PaletteOutlineColor", 0, 255, 24},
    kPaletteBackground{"PaletteBackgroundColor", 0, 255, 24};
constexpr IntKey kCollision{"CollisionDetection", 0, 2, 1};
constexpr IntKey kTeletextColors{"TeletextColors", 0, 1, 1};
constexpr IntKey kDvbYOffset{"DVBYOffset", -576, 576, 0};
constexpr IntKey kDvbZoom{"DVBZoom", 100, 200, 100};
constexpr IntKey kDvbBackground{"DVBBackground", 0, 1, 0};
constexpr IntKey kPaletteDvbBackground{"PaletteDVBBackgroundColor", 0, 255, 24};
constexpr IntKey kMaxShowTime{"DVBMaxShowTime", 0, 3600, 0};
constexpr IntKey kRecDelay{"RecDelay", 0, 600, 4};
constexpr IntKey kOsdMessages{"OSDMessages", INT_MIN, INT_MAX, 0};
constexpr IntKey kExternalChannels{"UseExternalChannels", INT_MIN, INT_MAX, 2};
constexpr IntKey kSubtileType{"SubtileType", INT_MIN, INT_MAX, 2};
constexpr IntKey kDvbFirst{"UseDVBFirst", INT_MIN, INT_MAX, 1};

TeletextStyle ReadTeletext(Reader& r) {
    TeletextStyle t;
    t.fourThree = {r.Int(kFontSize), r.Int(kRowSpace), r.Int(kStartYPos), r.Int(kExtraYSize)};
    t.wide = {r.Int(kWideFontSize), r.Int(kWideRowSpace), r.Int(kWideStartYPos), r.Int(kWideExtraYSize)};
    t.startXPos = r.Int(kStartXPos);
    t.centerText = r.Int(kCenterText);
    t.useBackground = r.Int(kUseBackground);
    t.outlineSize = r.Int(kOutlineSize);
    t.outlineColor = r.Hex("OutlineColor");
    t.backgroundColor = r.Hex("BackgroundColor");
    t.textColor = r.Hex("TextColor");
    t.paletteOutlineColor = r.Int(kPaletteOutline);
    t.paletteBackgroundColor = r.Int(kPaletteBackground);
    t.paletteTextColor = r.Int(kPaletteText);
    t.collisionDetection = r.Int(kCollision);
    t.teletextColors = r.Int(kTeletextColors);
    t.paletteTeletextColorsSet = r.Indexes("PaletteTeletextColors", t.paletteTeletextColors);
    return t;
}

DvbOptions ReadDvb(Reader& r, int collisionDetection) {
    DvbOptions d;
    d.maxShowTime = r.Int(kMaxShowTime);
    d.collisionDetection = collisionDetection;
    d.yOffset = r.Int(kDvbYOffset);
    d.zoom = r.Int(kDvbZoom);
    d.background = r.Int(kDvbBackground);
    d.backgroundColor = r.Hex("DVBBackgroundColor", 0x00000080);
    d.paletteBackgroundColor = r.Int(kPaletteDvbBackground);
    return d;
}

}  // namespace

Options ReadOptions(Settings& settings) {
    Reader r(settings);
    Options o;
    o.teletext = ReadTeletext(r);
    o.dvb = ReadDvb(r, o.teletext.collisionDetection);
    o.choice.useExternalChannels = r.Int(kExternalChannels);
    o.choice.language = r.Text("Language");
    o.choice.secondaryLanguage = r.Text("SecondaryLanguage");
    o.choice.subtileType = r.Int(kSubtileType);
    o.choice.useDVBFirst = r.Int(kDvbFirst);
    o.font = r.Text("Font");
    o.recDelay = r.Int(kRecDelay);
    o.osdMessages = r.Int(kOsdMessages);
    return o;
}

}  // namespace config
