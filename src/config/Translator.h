// Replaces the 7-bit national character codes of a Teletext page by the
// Unicode code points to draw, one table per selected language, read from
// the translation file at every selection.
#pragma once

#include <string>

class Translator {
public:
    Translator();
    virtual ~Translator();

    void SelectCountryCode(std::string countryCode);
    int loadCountryCode(std::string countryCode);
    void handleLine(std::string key, std::string value, std::string countryCode);
    // The table's entry when the code is below 255 and has one, else the code.
    unsigned long Translate(unsigned long& code);
    // A UTF-8 text as the viewer reads it: codes below 0x80 (the page's
    // 7-bit characters) through the table, every other character as it is.
    std::string ToUnicode(const std::string& text);

private:
    int table[255];
    int state;
};
