#include "config/Translator.h"

#include <errno.h>

#include <cstring>
#include <vector>

#include "platform/Log.h"
#include "config/NumberText.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

namespace {

// The shipped tables, built in from data/TEKO.translation.
const char kBuiltIn[] =
#include "BuiltInTranslation.inc"
    ;

// Larger than any table file; nothing past it is read.
constexpr size_t kMaxTranslationBytes = 1 << 20;

// Why a file's content cannot be the tables, or "".
std::string Unusable(const std::vector<unsigned char>& bytes) {
    if (bytes.empty()) return "empty";
    if (std::memchr(bytes.data(), 0, bytes.size())) return "binary";
    const std::string text(bytes.begin(), bytes.end());
    if (text.find("BeginTable:") == std::string::npos) return "not a table";
    return "";
}

}  // namespace

Translator::Translator() : table{}, state(0), text_(kBuiltIn) {}

void Translator::Load() {
    std::vector<unsigned char> bytes;
    const int error = platform::ReadWholeFile(paths::kTranslation, bytes, kMaxTranslationBytes);
    std::string why = error == ENOENT ? "missing" : error ? std::string("unreadable: ") + strerror(error) : Unusable(bytes);
    if (why.empty()) {
        text_.assign(bytes.begin(), bytes.end());
    } else {
        text_ = kBuiltIn;
        if (why != fileState_)
            eWarning("Translation file %s is %s; using the built-in tables\n", paths::kTranslation, why.c_str());
    }
    fileState_ = why;
}

Translator::~Translator() = default;

void Translator::SelectCountryCode(std::string countryCode) {
    eDebug("Translator: CC=%s\n", countryCode.c_str());
    for (int& entry : table) entry = 0;
    loadCountryCode(countryCode);
}

int Translator::loadCountryCode(std::string countryCode) {
    eDebug("Load Translation from: %s\n", paths::kTranslation);
    state = 0;
    for (size_t at = 0; at < text_.size();) {
        size_t end = text_.find('\n', at);
        if (end == std::string::npos) end = text_.size();
        std::string line = text_.substr(at, end - at);
        at = end + 1;
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
