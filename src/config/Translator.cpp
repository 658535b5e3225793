#include "config/Translator.h"

#include <fstream>

#include "platform/Log.h"
#include "config/NumberText.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

Translator::Translator() : table{}, state(0) {}

Translator::~Translator() = default;

void Translator::SelectCountryCode(std::string countryCode) {
    eDebug("Translator: CC=%s\n", countryCode.c_str());
    for (int& entry : table) entry = 0;
    loadCountryCode(countryCode);
}

int Translator::loadCountryCode(std::string countryCode) {
    eDebug("Load Translation from: %s\n", paths::kTranslation);
    state = 0;
    std::ifstream in(platform::Resolve(paths::kTranslation), std::ios::binary);
    if (!in) return 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        // "##" starts a comment; a lone "#" is the character 0x23 itself.
        if (line.size() >= 2 && line[0] == '#' && line[1] == '#') continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            handleLine(line, line, countryCode);
        } else {
            handleLine(line.substr(0, colon), line.substr(colon + 1), countryCode);
        }
    }
    return 0;
}

void Translator::handleLine(std::string key, std::string value, std::string countryCode) {
    switch (state) {
    case 0:
        if (key == "BeginTable" && value.find(countryCode) != std::string::npos) state = 1;
        break;
    case 1: {
        if (key == "EndTable") {
            state = 2;
            break;
        }
        const unsigned char code = key.empty() ? 0 : static_cast<unsigned char>(key[0]);
        // Only the 7-bit codes of a Teletext character set can be replaced.
        if (code >= 128) break;
        // "%d": no number stores 0, the identity.
        int number = 0;
        ReadLeadingInt(value.c_str(), 10, number);
        table[code] = number;
        break;
    }
    case 2:
        break;  // only the first table that lists the country counts
    default:
        eWarning("Translator statemachine error...\n");
        break;
    }
}

unsigned long Translator::Translate(unsigned long& code) {
    if (code < 255 && table[code] != 0) return static_cast<unsigned long>(table[code]);
    return code;
}

pages::NationalSet Translator::Set() const {
    pages::NationalSet set = pages::PlainSet();
    for (uint32_t code = 0; code < set.size(); ++code) {
        const int entry = table[code];
        const bool scalar = entry > 0 && entry <= 0x10FFFF && (entry < 0xD800 || entry > 0xDFFF);
        if (scalar) set[code] = uint32_t(entry);
    }
    return set;
}
