// What a capture offers to watch, told the user: the --list text, the
// example command line, and the one-line account of what a service (or a
// capture without PAT) carries when the chosen service, language or page
// finds nothing. Languages are compared as the daemon compares them: PMT
// codes lower-cased and mapped to their bibliographic form.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "TsInfo.h"

namespace choice {

// The daemon's form of a PMT language code ("fra" -> "fre").
std::string DaemonLanguage(const std::string& code);
// A Teletext page as on screen: 0x888 -> "888".
std::string PageText(int page);
// "100 101 ... (143 pages)": the first `most` of them, or "none".
std::string Pages(const std::set<int>& pages, size_t most = 16);
// True when the daemon would start subtitles on `service` with these
// languages (primary, secondary) and "SubtileType" (the channel list aside).
// With `info`, only subtitles on air in the capture count.
bool Matches(const TsService& service, const std::vector<std::string>& languages, int subtileType,
             const TsInfo* info = nullptr);
// Whether the capture carries what the entry announces: a DVB page
// composition of its composition page, or a Teletext header of its page.
bool OnAir(const TsInfo& info, const TsStream& stream, const SubtitleEntry& entry);
// The first service with subtitles on air, else the first with subtitles
// announced, or null.
const TsService* FirstOnAir(const TsInfo& info);
// "DVB fre (type 0x10), Teletext ita page 777 (type 2)", or "no subtitles".
std::string Carried(const TsService& service);
// For a capture without PAT: "PID 41 DVB page ids 2; ..." or "no PID does".
std::string CarriedPes(const TsInfo& info);
// --language (and --type) that would choose the service's subtitles:
// normal ones first and, given `info`, those with PES in the capture.
std::string SuggestedChoice(const TsService& service, const TsInfo* info = nullptr);
// Prints the --list text of `ts` to `out`.
void PrintList(const TsInfo& info, const std::string& ts, FILE* out);

}  // namespace choice
