// The parts of the simulator's preparation that stand in for what a user
// would otherwise do by hand: a PAT and PMT for a capture without them
// (--pid), the subtitle choice written into the configuration (--language,
// --type), and a clear refusal when the choice finds nothing on air.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "PsiWrap.h"
#include "Simulator.h"
#include "StreamChoice.h"
#include "platform/Constants.h"
#include "platform/Paths.h"

#ifndef TEKO_DATA_DIR
#define TEKO_DATA_DIR "data"
#endif

namespace {

// Settings defaults of the daemon, for a configuration without the key.
constexpr const char* kDefaultLanguage = "swe";
constexpr const char* kDefaultSecondLanguage = "eng";
constexpr int kDefaultType = ids::kTeletextTypeSubtitle;

// The value of `key` in a configuration file: "key value" lines, the last
// one winning as in the daemon's reading; `fallback` without one.
std::string ConfigValue(const std::string& path, const std::string& key, const std::string& fallback) {
    std::ifstream in(path);
    std::string line, value = fallback;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + " ") == 0) value = line.substr(key.size() + 1);
    return value;
}

// Replaces every "key value" line of `keys` in the file, or appends one.
bool SetConfigValues(const std::string& path, const std::vector<std::pair<std::string, std::string>>& keys) {
    std::ifstream in(path);
    std::string line, text;
    std::vector<bool> done(keys.size(), false);
    while (std::getline(in, line)) {
        for (size_t i = 0; i < keys.size(); ++i) {
            if (line.compare(0, keys[i].first.size() + 1, keys[i].first + " ") != 0) continue;
            line = keys[i].first + " " + keys[i].second;
            done[i] = true;
        }
        text += line + "\n";
    }
    for (size_t i = 0; i < keys.size(); ++i)
        if (!done[i]) text += keys[i].first + " " + keys[i].second + "\n";
    in.close();
    std::ofstream out(path, std::ios::trunc);
    out << text;
    return bool(out);
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Ids(const std::vector<int>& ids) {
    std::string text;
    for (int id : ids) text += (text.empty() ? "" : " ") + std::to_string(id);
    return text;
}


}  // namespace

int Simulator::List(const SimOptions& options) {
    TsInfo info;
    std::string error;
    if (!info.Load(options.ts, error)) {
        fprintf(stderr, "tekod-sim: %s\n", error.c_str());
        return 2;
    }
    choice::PrintList(info, options.ts, stdout);
    return 0;
}

std::string Simulator::ConfigInUse() const {
    return options_.config.empty() ? std::string(TEKO_DATA_DIR) + "/TEKO.conf" : options_.config;
}

std::string Simulator::NoPat(const TsInfo& info) const {
    return options_.ts + " has no PAT/PMT, so no service to watch; it carries " + choice::CarriedPes(info) +
           ". Play one PID with --pid PID --dvb or --pid PID --teletext PAGE (--list prints an example)";
}

bool Simulator::WrapPid(TsInfo& info, std::string& error) {
    const int pid = options_.pid;
    const PesPid* pes = info.FindPes(pid);
    const std::string where = "PID " + std::to_string(pid) + " of " + options_.ts;
    if (!pes) {
        error = where + " carries no DVB subtitle or Teletext PES; " + choice::CarriedPes(info);
        return false;
    }
    const bool teletext = options_.teletextPage >= 0 || (!options_.dvb && pes->teletext);
    if (teletext != pes->teletext) {
        error = where + (pes->teletext ? " carries Teletext (pages " + choice::Pages(pes->pages) + "), not DVB subtitles"
                                       : " carries DVB subtitles (page ids " + Ids(pes->pageIds) + "), not Teletext");
        return false;
    }
    psiwrap::Subtitle subtitle;
    subtitle.teletext = teletext;
    subtitle.language = !options_.language.empty() ? options_.language
                                                   : ConfigValue(ConfigInUse(), "Language", kDefaultLanguage);
    const int type = options_.type ? options_.type : kDefaultType;
    if (teletext) {
        const std::set<int>& pages = pes->subtitlePages.empty() ? pes->pages : pes->subtitlePages;
        subtitle.page = options_.teletextPage >= 0 ? options_.teletextPage : pages.empty() ? -1 : *pages.begin();
        subtitle.type = type;
        if (!pes->pages.count(subtitle.page)) {
            error = where + (subtitle.page < 0 ? " has no Teletext page header"
                                               : " has no page " + choice::PageText(subtitle.page)) +
                    "; its pages: " + choice::Pages(pes->pages) + " (subtitle pages: " + choice::Pages(pes->subtitlePages) + ")";
            return false;
        }
        if (!pes->subtitlePages.empty() && !pes->subtitlePages.count(subtitle.page))
            fprintf(stderr, "tekod-sim: warning: page %s of %s is not marked as subtitles; its subtitle pages: %s\n",
                    choice::PageText(subtitle.page).c_str(), where.c_str(), choice::Pages(pes->subtitlePages).c_str());
    } else {
        const std::vector<int>& seen = pes->pageIds;
        subtitle.compositionPage = options_.pageId >= 0 ? options_.pageId : seen.empty() ? -1 : seen.front();
        subtitle.ancillaryPage = subtitle.compositionPage;
        subtitle.type = type == ids::kTeletextTypeHearingImpaired ? ids::kSubtitlingTypeHardOfHearingFirst
                                                                  : ids::kSubtitlingTypeNormalFirst;
        if (std::find(seen.begin(), seen.end(), subtitle.compositionPage) == seen.end()) {
            error = where + (subtitle.compositionPage < 0 ? " has no page composition segment"
                                                          : " has no page id " + std::to_string(subtitle.compositionPage)) +
                    "; its page ids: " + (seen.empty() ? "none" : Ids(seen));
            return false;
        }
    }
    psiwrap::Layout layout;
    psiwrap::PickPids(pid, layout);
    layout.serviceId = options_.service >= 0 ? options_.service : 1;
    layout.psiInterval = 9000;  // tables every 100 ms, as on air
    layout.descriptors = psiwrap::Descriptor(subtitle);
    const std::vector<uint8_t> wrapped = psiwrap::WrapPes(psiwrap::PayloadStream(ReadAll(options_.ts), pid), layout);
    mkdir(options_.out.c_str(), 0755);
    played_ = options_.out + "/wrapped.ts";
    std::ofstream out(played_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(wrapped.data()), std::streamsize(wrapped.size()));
    out.close();
    if (!out) {
        error = "cannot write " + played_;
        return false;
    }
    info = TsInfo();
    return info.Load(played_, error);
}

bool Simulator::WriteChoice(std::string& error) const {
    std::vector<std::pair<std::string, std::string>> keys;
    if (!options_.language.empty()) keys.push_back({"Language", options_.language});
    if (!options_.secondLanguage.empty()) keys.push_back({"SecondaryLanguage", options_.secondLanguage});
    if (options_.type) keys.push_back({"SubtileType", std::to_string(options_.type)});
    if (keys.empty() || SetConfigValues(root_ + paths::kConfig, keys)) return true;
    error = "cannot write " + root_ + paths::kConfig;
    return false;
}

int Simulator::CheckChoice(const TsInfo& info, const TsService& service, std::string& error) const {
    // The daemon reads the root's copy, with --language and --type in it.
    const std::string config = root_ + paths::kConfig;
    const std::vector<std::string> languages = {ConfigValue(config, "Language", kDefaultLanguage),
                                                ConfigValue(config, "SecondaryLanguage", kDefaultSecondLanguage)};
    int type = kDefaultType;
    std::istringstream(ConfigValue(config, "SubtileType", std::to_string(kDefaultType))) >> type;
    if (!service.pmtSeen || choice::Matches(service, languages, type, &info)) return 0;
    const std::string wanted = languages[0] == languages[1] ? languages[0] : languages[0] + " or " + languages[1];
    std::string others;
    for (const TsService& s : info.Services())
        if (s.HasSubtitles()) others += " " + std::to_string(s.serviceId);
    if (!service.HasSubtitles())
        error = "service " + std::to_string(service.serviceId) + " carries no subtitles; " +
                (others.empty() ? "no service of " + options_.ts + " does" : "these do:" + others + " (see --list)");
    else if (choice::Matches(service, languages, type))
        error = "service " + std::to_string(service.serviceId) + " announces subtitles in " + wanted +
                " that are not on air in the capture; it carries " + choice::Carried(service) + ": try" +
                choice::SuggestedChoice(service, &info) + " (--list tells which are on air)";
    else
        error = "service " + std::to_string(service.serviceId) + " has no subtitles in " + wanted + " of SubtileType " + std::to_string(type) + "; it carries " + choice::Carried(service) +
            ": try" + choice::SuggestedChoice(service, &info) + ", or another --service (--list shows them)";
    // The daemon still runs (its log tells what it chose, a zap or the
    // channel list may still find subtitles): a warning, not a refusal.
    fprintf(stderr, "tekod-sim: warning: %s\n", error.c_str());
    error.clear();
    return 0;
}
