// One entry of a subtitling_descriptor (EN 300 468 §6.2.41) as the PMT
// loader records it.
#pragma once

#include <string>

struct DVBDescriptor {
    int type = 0;               // subtitling_type
    int pid = 0;                // elementary PID carrying the descriptor
    int serviceId = 0;          // program_number of the PMT section
    std::string language;       // lower-cased, mapped by GetLanguage
    int ancillaryPageId = 0;
    int compositionPageId = 0;
};
