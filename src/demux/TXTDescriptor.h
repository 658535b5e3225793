// One subtitle-page entry (teletext_type 2 or 5) of a teletext_descriptor
// (EN 300 468 §6.2.43) as the PMT loader records it.
#pragma once

#include <string>

struct TXTDescriptor {
    int type = 0;          // teletext_type: 2 subtitles, 5 for the hearing impaired
    int pid = 0;           // elementary PID
    int serviceId = 0;     // program_number of the PMT section
    std::string language;  // lower-cased, mapped by GetLanguage
    int magazine = 0;      // teletext_magazine_number as sent (0 to 7)
    int page = 0;          // 0x100 to 0x8FF, magazine 0 written as 8
    int pageNumber = 0;    // teletext_page_number byte as sent (BCD)
};
