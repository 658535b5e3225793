#include "app/ChannelList.h"


#include "platform/Log.h"
#include "config/NumberText.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "platform/TextFile.h"

int split(const std::string& text, const std::string& delimiter, std::vector<std::string>& out,
          bool includeEmpty) {
    if (text.empty() || delimiter.empty()) return 0;
    size_t found = text.find(delimiter);
    if (found == std::string::npos) return 0;
    int occurrences = 0;
    size_t start = 0;
    while (found != std::string::npos) {
        if (includeEmpty || found > start) out.push_back(text.substr(start, found - start));
        ++occurrences;
        start = found + delimiter.size();
        found = text.find(delimiter, start);
    }
    if (includeEmpty || start < text.size()) out.push_back(text.substr(start));
    return occurrences;
}

namespace {

// A number field as a hexadecimal stream extraction reads it; 0 when none.
int HexField(const std::string& field) {
    int value = 0;
    ReadLeadingInt(field.c_str(), 16, value);
    return value;
}

// Everything from the fourth blank on is ignored (a comment may follow the
// language code), so only the part before it is split: a line of millions
// of blanks costs no more than its own bytes.
std::string EntryPart(const std::string& line) {
    size_t from = 0;
    for (int blanks = 1;; ++blanks) {
        const size_t blank = line.find(' ', from);
        if (blank == std::string::npos) return line;
        if (blanks == 4) return line.substr(0, blank);
        from = blank + 1;
    }
}

}  // namespace

int CheckExternalChannels(int serviceId, std::string language, int& pid, int& page) {
    eDebug("EXT::Checking for TXT Subtitles in external file...\n");
    platform::TextFile in(paths::kChannels);
    if (!in.IsOpen()) return 0;
    std::string line;
    std::vector<std::string> fields;
    while (in.ReadLine(line)) {
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        fields.clear();
        split(EntryPart(line), " ", fields, true);
        // Fewer than four fields is no entry; it is passed over silently.
        if (fields.size() < 4) continue;
        if (HexField(fields[0]) != serviceId || fields[3] != language) continue;
        pid = HexField(fields[1]);
        page = HexField(fields[2]);
        return 1;
    }
    return 0;
}
