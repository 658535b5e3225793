#include "config/Settings.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>

#include "platform/Log.h"
#include "config/NumberText.h"
#include "platform/TextFile.h"

namespace {

// The built-in defaults: every key that the daemon reads and needs a value
// for. Keys read with a preset of their own ("OSDMessages", "OutlineSize",
// "DVBMaxShowTime") are deliberately absent.
const char* const kDefaults[][2] = {
    {"SubtileType", "2"},
    {"Language", "swe"},
    {"SecondaryLanguage", "eng"},
    {"RecDelay", "4"},
    {"StartYPos", "0"},
    {"WideStartYPos", "0"},
    {"StartXPos", "60"},
    {"CenterText", "1"},
    {"TextColor", "ffffffff"},
    {"OutlineColor", "000000ff"},
    {"BackgroundColor", "00000044"},
    {"UseBackground", "2"},
    {"Font", "/usr/share/fonts/md_khmurabi_10.ttf"},
    {"FontSize", "28"},
    {"WideFontSize", "28"},
    {"RowSpace", "5"},
    {"WideRowSpace", "0"},
    {"UseDVBFirst", "1"},
    {"UseExternalChannels", "2"},
    {"ExtraYSize", "0"},
    {"WideExtraYSize", "0"},
    {"PaletteTextColor", "31"},
    {"PaletteOutlineColor", "24"},
    {"PaletteBackgroundColor", "24"},
    {"CollisionDetection", "1"},
};

}  // namespace

Settings::Settings() {
    for (const auto& entry : kDefaults) values[entry[0]] = entry[1];
}

Settings::~Settings() = default;

int Settings::LoadFromFile(std::string path) {
    eDebug("Load settings from: %s\n", path.c_str());
    int result = 0;
    // The path is logged as the daemon knows it and opened where the
    // platform keeps it. Lines of any length, in linear time.
    platform::TextFile in(path.c_str());
    if (in.IsOpen()) {
        std::string line;
        while (in.ReadLine(line)) {
            if (line.empty() || line[0] == '#' || line[0] == ';') continue;
            const size_t blank = line.find(' ');
            if (blank == std::string::npos) {
                values[line] = line;
            } else {
                values[line.substr(0, blank)] = line.substr(blank + 1);
            }
        }
        // A file that cannot be read (a folder, a failing disk) keeps what
        // was read of it before the failure, over the earlier values.
        if (in.Error() != 0)
            eWarning("Could not read %s: %s\n", path.c_str(), strerror(in.Error()));
        else
            result = 1;
    } else if (in.Error() != ENOENT) {
        // A missing file is the normal case of a box without one.
        eWarning("Could not open %s: %s\n", path.c_str(), strerror(in.Error()));
    }
    Dump();
    return result;
}

int Settings::GetValue(std::string key, std::string& out) {
    auto it = values.find(key);
    if (it == values.end()) return -1;
    out = it->second;
    return 1;
}

int Settings::GetValue(std::string key, int& out) {
    auto it = values.find(key);
    if (it == values.end()) return -1;
    // As a decimal stream extraction: no number leaves `out` as it was.
    ReadLeadingInt(it->second.c_str(), 10, out);
    return 1;
}

int Settings::GetValueHex(std::string key, int& out) {
    auto it = values.find(key);
    if (it == values.end()) {
        eWarning("CONFIG: Failed to getValueHex()\n");
        return -1;
    }
    // As "%x" reads it: the low 32 bits of the unsigned number, so
    // "ffffffff" (opaque white) is the int -1, bit for bit.
    const char* text = it->second.c_str();
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 16);
    if (end != text) out = static_cast<int>(static_cast<unsigned int>(number));
    return 1;
}

void Settings::Dump() {
    for (const auto& entry : values) {
        eListing("CONFIG: %s = %s\n", entry.first.c_str(), entry.second.c_str());
    }
}
