// The 7-bit national character codes of a Teletext page as the Unicode
// code points to draw, one table per selected language, read from the
// translation file at every selection and handed to the Teletext decoder
// as a value.
#pragma once

#include <string>

#include "pages/Page.h"

class Translator {
public:
    Translator();
    virtual ~Translator();

    // Reads the translation file again (once per selection, not once per
    // language tried). A file that is missing, empty, binary or holds no
    // table is told once per such state, and the tables built into the
    // daemon (the shipped file's) are used instead.
    void Load();
    void SelectCountryCode(std::string countryCode);
    int loadCountryCode(std::string countryCode);
    void handleLine(std::string key, std::string value, std::string countryCode);
    // The table's entry when the code is below 255 and has one, else the code.
    unsigned long Translate(unsigned long& code);
    // The selected table: every 7-bit code as its entry, or as itself
    // where it has none (or one that is no Unicode scalar value).
    pages::NationalSet Set() const;

private:
    int table[255];
    int state;
    std::string text_;       // the tables in force
    std::string fileState_;  // what the file was at the last load ("" good)
};
