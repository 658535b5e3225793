// Subtitle pages in the Greek and Cyrillic G0 sets for the tests: the
// texts meant, the region and national option that select the set, and
// the 7-bit codes that send them.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "config/Translator.h"
#include "platform/Utf8.h"
#include "platform/Paths.h"
#include "support/TempRoot.h"

namespace scripts {

// The 7-bit codes of a UTF-8 text in the G0 set that `language`'s shipped
// table describes (the table read backwards; a character it lacks is the control code 0x01).
inline std::string Encode(const std::string& utf8text, const std::string& language) {
    TempRoot root;
    root.Copy(paths::kTranslation, TEKO_SOURCE_DIR "/data/TEKO.translation");
    Translator translator;
    testing::internal::CaptureStderr();
    translator.SelectCountryCode(language);
    testing::internal::GetCapturedStderr();
    std::map<unsigned long, char> codeOf;
    for (unsigned long code = 0x20; code < 0x7F; ++code) {
        unsigned long c = code;
        codeOf.emplace(translator.Translate(c), char(code));
    }
    std::string out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8text.data());
    for (size_t at = 0, used = 0; at < utf8text.size(); at += used) {
        auto it = codeOf.find(utf8::Next(bytes, utf8text.size(), at, used));
        out += it == codeOf.end() ? '\x01' : it->second;
    }
    return out;
}

struct Script {
    const char* name;
    const char* language;
    int region;          // EN 300 706 table 32 code of the region (national option bits clear)
    int nationalOption;  // the builder's national option (bit 0 is C12)
    const char* row20;
    const char* row22;
};
// Region 4 holds Cyrillic options 2 and 3, region 6 Greek (EN 300 706
// table 32: C12 C13 C14 = 1 0 0, 1 0 1 and 1 1 1). Й and ї, where libzvbi
// differs, stay out.
inline const Script kScripts[] = {
    {"greek", "gre", 48, 7, "Καλημέρα σας, πώς είστε;", "Ευχαριστώ, πολύ καλά! «Ναι»"},
    {"russian", "rus", 32, 1, "Привет! Как дела?", "Хорошо, спасибо. Съешь хлеба"},
    {"bulgarian", "bul", 32, 1, "Благодаря, добре съм.", "Щастлив път, Юлия!"},
    {"ukrainian", "ukr", 32, 5, "Доброго вечора, Єво!", "Дякую, все добре. Це гарно"},
};

}  // namespace scripts
