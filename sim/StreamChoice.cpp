#include "StreamChoice.h"

#include <algorithm>

#include "demux/PMTLoader.h"
#include "platform/Constants.h"

namespace choice {

namespace {

bool HardOfHearing(const TsStream& s, const SubtitleEntry& e) {
    if (s.dvbSubtitles)
        return e.type >= ids::kSubtitlingTypeHardOfHearingFirst && e.type <= ids::kSubtitlingTypeHardOfHearingLast;
    return e.type == ids::kTeletextTypeHearingImpaired;
}

bool IsSubtitlePage(const SubtitleEntry& e) {
    return e.type == ids::kTeletextTypeSubtitle || e.type == ids::kTeletextTypeHearingImpaired;
}

std::string Hex(int value, int digits = 0) {
    char text[16];
    snprintf(text, sizeof text, "0x%0*X", digits, unsigned(value));
    return text;
}

std::string Pid(int pid) { return "PID " + Hex(pid, 4) + " (" + std::to_string(pid) + ")"; }

std::string DvbType(int type) {
    if (type >= ids::kSubtitlingTypeNormalFirst && type <= ids::kSubtitlingTypeNormalLast)
        return "type " + Hex(type, 2) + " (normal)";
    if (type >= ids::kSubtitlingTypeHardOfHearingFirst && type <= ids::kSubtitlingTypeHardOfHearingLast)
        return "type " + Hex(type, 2) + " (hard of hearing)";
    return "type " + Hex(type, 2);
}

std::string TeletextType(int type) {
    static const char* const kNames[] = {"", "initial page", "subtitles", "additional information", "schedule",
                                         "subtitles for the hearing impaired"};
    std::string text = "type " + std::to_string(type);
    return type >= 1 && type <= 5 ? text + " (" + kNames[type] + ")" : text;
}

}  // namespace

bool OnAir(const TsInfo& info, const TsStream& s, const SubtitleEntry& e) {
    const PesPid* p = info.FindPes(s.pid);
    if (!p) return false;
    if (s.dvbSubtitles)
        return !p->teletext && std::find(p->pageIds.begin(), p->pageIds.end(), e.compositionPage) != p->pageIds.end();
    return p->teletext && p->pages.count(e.page) != 0;
}

std::string Pages(const std::set<int>& pages, size_t most) {
    if (pages.empty()) return "none";
    std::string text;
    size_t n = 0;
    for (int page : pages) {
        if (n++ == most) return text + " ... (" + std::to_string(pages.size()) + " pages)";
        text += (text.empty() ? "" : " ") + PageText(page);
    }
    return text;
}

namespace {

std::string PesText(const PesPid& p) {
    if (!p.teletext) {
        std::string ids;
        for (int id : p.pageIds) ids += (ids.empty() ? "" : " ") + std::to_string(id);
        return "DVB subtitles, " + std::to_string(p.pes) + " PES, " +
               (ids.empty() ? std::string("no page composition") : "page ids " + ids);
    }
    std::string text = "Teletext, " + std::to_string(p.pes) + " PES, ";
    if (p.pages.empty()) return text + "no page header";
    text += "pages " + Pages(p.pages);
    return text + (p.subtitlePages.empty() ? ", none marked subtitle" : "; subtitle pages " + Pages(p.subtitlePages));
}

// One line of --list for a stream of a PMT.
void PrintStream(const TsInfo& info, const TsStream& s, FILE* out) {
    const char* kind = s.dvbSubtitles ? "DVB" : "Teletext";
    const bool pes = info.FindPes(s.pid) != nullptr;
    const char* onAir = pes ? "" : "  (no subtitle PES in the capture)";
    if (s.teletext && !s.subtitlePages) {
        std::string pages;
        for (const SubtitleEntry& e : s.entries)
            pages += " " + e.language + " " + PageText(e.page) + " " + TeletextType(e.type) + ";";
        if (!pages.empty()) pages = " (pages:" + pages.substr(0, pages.size() - 1) + ")";
        fprintf(out, "  %s  %s  no subtitle page%s%s\n", Pid(s.pid).c_str(), kind, pages.c_str(), onAir);
        return;
    }
    for (const SubtitleEntry& e : s.entries) {
        if (s.teletext && !IsSubtitlePage(e)) continue;
        std::string where = s.dvbSubtitles ? DvbType(e.type) + "  composition page " + std::to_string(e.compositionPage) +
                                                 ", ancillary page " + std::to_string(e.ancillaryPage)
                                           : TeletextType(e.type) + "  page " + PageText(e.page);
        const char* absent = pes && !OnAir(info, s, e) ? (s.dvbSubtitles ? "  (page id not in the capture)"
                                                                         : "  (page not on air in the capture)")
                                                     : onAir;
        fprintf(out, "  %s  %s  %s  %s%s\n", Pid(s.pid).c_str(), kind, e.language.c_str(), where.c_str(), absent);
    }
}

// The first stream with subtitles, as the line of an example command.
std::string Example(const TsInfo& info, const std::string& ts) {
    const std::string head = "tekod-sim --ts " + ts + " --out sim-out";
    // Without a PAT, or without a PMT that names subtitles: a PID by its PES.
    auto byPes = [&]() -> std::string {
        for (const PesPid& p : info.PesPids()) {
            if (!p.teletext && !p.pageIds.empty()) return head + " --pid " + std::to_string(p.pid) + " --dvb";
            const std::set<int>& pages = p.subtitlePages.empty() ? p.pages : p.subtitlePages;
            if (p.teletext && !pages.empty())
                return head + " --pid " + std::to_string(p.pid) + " --teletext " + PageText(*pages.begin());
        }
        return "";
    };
    if (!info.HasPat() || !info.FirstWithSubtitles()) return byPes();
    const TsService* service = FirstOnAir(info);
    return head + " --service " + std::to_string(service->serviceId) + SuggestedChoice(*service, &info);
}

}  // namespace

std::string DaemonLanguage(const std::string& code) {
    std::string lower;
    for (char c : code) lower += char(c | 0x20);  // as the daemon's PMT loader reads it
    std::string mapped;
    PMTLoader::GetLanguage(lower, mapped);
    return mapped;
}

std::string PageText(int page) {
    char text[8];
    snprintf(text, sizeof text, "%X", unsigned(page & 0xFFF));
    return text;
}

bool Matches(const TsService& service, const std::vector<std::string>& languages, int subtileType,
             const TsInfo* info) {
    for (const std::string& language : languages) {
        for (const TsStream& s : service.streams) {
            for (const SubtitleEntry& e : s.entries) {
                if (DaemonLanguage(e.language) != language || (info && !OnAir(*info, s, e))) continue;
                // The daemon takes a DVB stream of the language of either kind.
                if (s.dvbSubtitles || (s.teletext && e.type == subtileType)) return true;
            }
        }
    }
    return false;
}

std::string Carried(const TsService& service) {
    std::vector<std::string> items;
    for (const TsStream& s : service.streams) {
        for (const SubtitleEntry& e : s.entries) {
            std::string item;
            if (s.dvbSubtitles) item = "DVB " + DaemonLanguage(e.language) + " (type " + Hex(e.type, 2) + ")";
            if (s.teletext && IsSubtitlePage(e))
                item = "Teletext " + DaemonLanguage(e.language) + " page " + PageText(e.page) + " (type " +
                       std::to_string(e.type) + ")";
            if (!item.empty() && std::find(items.begin(), items.end(), item) == items.end()) items.push_back(item);
        }
    }
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "no subtitles" : text;
}

std::string CarriedPes(const TsInfo& info) {
    std::string text;
    for (const PesPid& p : info.PesPids())
        text += (text.empty() ? "" : "; ") + Pid(p.pid) + " " + PesText(p);
    return text.empty() ? "no PID carries subtitle PES" : text;
}

const TsService* FirstOnAir(const TsInfo& info) {
    for (const TsService& s : info.Services())
        for (const TsStream& stream : s.streams)
            for (const SubtitleEntry& e : stream.entries)
                if ((stream.dvbSubtitles || (stream.teletext && IsSubtitlePage(e))) && OnAir(info, stream, e)) return &s;
    return info.FirstWithSubtitles();
}

std::string SuggestedChoice(const TsService& service, const TsInfo* info) {
    // Normal subtitles before those for the hard of hearing, and with
    // `info`, a page on air in the capture before one that is not.
    const TsStream* best = nullptr;
    const SubtitleEntry* bestEntry = nullptr;
    int bestRank = 4;
    for (const TsStream& s : service.streams) {
        for (const SubtitleEntry& e : s.entries) {
            if (!s.dvbSubtitles && !(s.teletext && IsSubtitlePage(e))) continue;
            const int rank = (info && !OnAir(*info, s, e) ? 2 : 0) + (HardOfHearing(s, e) ? 1 : 0);
            if (rank < bestRank) best = &s, bestEntry = &e, bestRank = rank;
        }
    }
    if (!best) return "";
    return " --language " + DaemonLanguage(bestEntry->language) + (HardOfHearing(*best, *bestEntry) ? " --type 5" : "");
}

void PrintList(const TsInfo& info, const std::string& ts, FILE* out) {
    if (!info.HasPat()) {
        fprintf(out, "%s: no PAT, so no services; PIDs whose PES carry subtitle data:\n", ts.c_str());
        for (const PesPid& p : info.PesPids()) fprintf(out, "  %s  %s\n", Pid(p.pid).c_str(), PesText(p).c_str());
        if (info.PesPids().empty()) fprintf(out, "  none\n");
    } else {
        fprintf(out, "%s: %zu service%s\n", ts.c_str(), info.Services().size(),
                info.Services().size() == 1 ? "" : "s");
    }
    for (const TsService& service : info.Services()) {
        const std::string name = service.name.empty() ? "(no name in an SDT)" : "\"" + service.name + "\"";
        fprintf(out, "service %d %s, PMT %s\n", service.serviceId, name.c_str(), Pid(service.pmtPid).c_str());
        if (!service.pmtSeen) fprintf(out, "  its PMT is not in the capture (or fails its CRC)\n");
        size_t shown = 0;
        for (const TsStream& s : service.streams) {
            if (!s.dvbSubtitles && !s.teletext) continue;
            PrintStream(info, s, out);
            ++shown;
        }
        if (service.pmtSeen && shown == 0) fprintf(out, "  no subtitle or Teletext stream\n");
    }
    // PES of subtitles that no PMT read names (a PMT missing or damaged):
    // --pid still plays them.
    bool header = false;
    for (const PesPid& p : info.PesPids()) {
        bool named = !info.HasPat();
        for (const TsService& service : info.Services())
            for (const TsStream& s : service.streams) named = named || s.pid == p.pid;
        if (named) continue;
        if (!header) fprintf(out, "PIDs with subtitle PES that no PMT names (play one with --pid):\n");
        header = true;
        fprintf(out, "  %s  %s\n", Pid(p.pid).c_str(), PesText(p).c_str());
    }
    const std::string example = Example(info, ts);
    fprintf(out, "%s\n", example.empty() ? "nothing in this capture to play subtitles from"
                                         : ("example: " + example).c_str());
}

}  // namespace choice
