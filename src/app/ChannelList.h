// The user's channel list "/etc/TEKO.channels": per service and language a
// Teletext PID and subtitle page, all hexadecimal, one entry a line:
//   <sid> <pid> <page> <language>
// and the string splitter that reads it.
#pragma once

#include <string>
#include <vector>

// Appends to `out` the fields of `text` between the non-overlapping
// occurrences of `delimiter` (empty ones only when `includeEmpty`) and
// returns the number of occurrences. A text without the delimiter, or an
// empty text or delimiter, yields no field at all.
int split(const std::string& text, const std::string& delimiter, std::vector<std::string>& out,
          bool includeEmpty);

// 1 and the first entry's PID and page for this service and language
// (compared exactly); 0 with `pid` and `page` untouched when there is none
// or the list cannot be opened. The file is read anew on every call.
int CheckExternalChannels(int serviceId, std::string language, int& pid, int& page);
