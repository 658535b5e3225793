// gTEKOApp's choice of a subtitle stream for the current service: the
// programme tables are read, then for the primary and the secondary
// language DVB subtitles, the user's channel list and the PMT's Teletext
// subtitle pages are tried in the order the configuration gives. The first
// hit starts exactly one client.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/ChannelList.h"
#include "platform/Log.h"
#include "app/gTEKOApp.h"
#include "platform/Constants.h"

namespace {

// The status line: at most kStatusTextSize - 1 characters, a longer text is
// cut (snprintf always terminates).
__attribute__((format(printf, 2, 3))) void FormatStatus(char* statusText, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(statusText, gTEKOApp::kStatusTextSize, format, args);
    va_end(args);
}

}  // namespace

void gTEKOApp::StreamStatus(char* statusText, bool dvb, const std::string& code, int pid, int page) {
    if (dvb)
        FormatStatus(statusText, "DVB(Stream) Subtitles %s 0x%x", code.c_str(), pid);
    else
        FormatStatus(statusText, "TXT(Stream) Subtitles %s 0x%x %x", code.c_str(), pid, page);
}

void gTEKOApp::Select(LoopState& state) {
    eDebug("Service changed: SID=%d, PMT=%d\n", serviceId, pmtPid);
    eDebug("Now check if we have some nice subs for this channel...\n");
    StopAll();
    state.lastScanResult = pmtLoader.GetAllPIDs(serviceId, pmtPid);
    if (state.lastScanResult <= 0) {
        // The status line stays as it is; the next poll selects again.
        eWarning("Failed to GetAllPIDs()...try again.\n");
        state.rescanCountdown = 20;
        return;
    }
    memset(state.statusText, 0, sizeof state.statusText);
    // The tables once for every language this selection tries.
    translator.Load();
    if (!SearchLanguage(language, true, state.statusText) &&
        !SearchLanguage(secondaryLanguage, false, state.statusText)) {
        eDebug("-> Let's fall into zzzzzzz...\n");
        state.statusText[0] = '\0';
        StopAll();
    }
    debugMessage(state.statusText);
    state.rescanCountdown = 20;
}

bool gTEKOApp::SearchLanguage(const std::string& code, bool primary, char* statusText) {
    const char* L = code.c_str();
    translator.SelectCountryCode(code);

    if (useDVBFirst == 1 && FindDVB(code)) {
        StreamStatus(statusText, true, code, subtitlePid, 0);
        StartChosenDVB(code);
        ArmFallback(code, true);
        return true;
    }
    if (useExternalChannels == 2 && CheckExternalChannels(serviceId, code, subtitlePid, subtitlePage)) {
        eDebug("TXT EXTERNAL OVERRIDE: %s, PID=%x, PAGE=%x\n", L, subtitlePid, subtitlePage);
        FormatStatus(statusText, "TXT(Override) Subtitles %s 0x%x %x", L, subtitlePid, subtitlePage);
        StartChosenTXT();
        return true;
    }
    if (pmtLoader.FindTXTSubtitle(serviceId, code, subtileType, subtitlePid, subtitlePage)) {
        eDebug("TXT FROM PMT: %s, PID=%x, PAGE=%x\n", L, subtitlePid, subtitlePage);
        StreamStatus(statusText, false, code, subtitlePid, subtitlePage);
        StartChosenTXT();
        chosenHardOfHearing = subtileType == ids::kTeletextTypeHearingImpaired;
        ArmFallback(code, false);
        return true;
    }
    if (useExternalChannels == 1 && CheckExternalChannels(serviceId, code, subtitlePid, subtitlePage)) {
        eDebug("TXT EXTERNAL FALLBACK: %s, PID=%x, PAGE=%x\n", L, subtitlePid, subtitlePage);
        FormatStatus(statusText, "TXT(Fallback) Subtitles %s 0x%x %x", L, subtitlePid, subtitlePage);
        StartChosenTXT();
        return true;
    }
    if (useDVBFirst == 0 && FindDVB(code)) {
        // The primary language's status line has two blanks here, the
        // secondary's one: the two forms tell the searches apart on screen.
        if (primary)
            FormatStatus(statusText, "DVB(Stream) Subtitles  %s 0x%x", L, subtitlePid);
        else
            StreamStatus(statusText, true, code, subtitlePid, 0);
        StartChosenDVB(code);
        ArmFallback(code, true);
        return true;
    }
    return false;
}

// subtitling_type 0x10-0x16 normal DVB subtitles, 0x20-0x26 for the hard
// of hearing: "SubtileType" 2 asks for the first kind, 5 for the second
// (the Teletext page types of the same meaning).
bool gTEKOApp::OfWantedKind(int type, int subtileType) {
    if (subtileType == ids::kTeletextTypeSubtitle)
        return type >= ids::kSubtitlingTypeNormalFirst && type <= ids::kSubtitlingTypeNormalLast;
    if (subtileType == ids::kTeletextTypeHearingImpaired)
        return type >= ids::kSubtitlingTypeHardOfHearingFirst && type <= ids::kSubtitlingTypeHardOfHearingLast;
    return false;
}

bool gTEKOApp::FindDVB(const std::string& code) {
    if (!pmtLoader.FindDVBSubtitle(serviceId, code, subtitlePid)) return false;
    // The first entry of the wanted kind, else the language's first entry:
    // the other kind is better than nothing.
    const DVBDescriptor* chosen = nullptr;
    for (const DVBDescriptor* d : pmtLoader.DvbList()) {
        if (d->serviceId != serviceId || d->language != code) continue;
        if (!chosen) chosen = d;
        if (OfWantedKind(d->type, subtileType)) {
            chosen = d;
            break;
        }
    }
    if (!chosen) return false;
    subtitlePid = chosen->pid;
    chosenHardOfHearing = OfWantedKind(chosen->type, ids::kTeletextTypeHearingImpaired);
    dvbCompositionPage = chosen->compositionPageId;
    dvbAncillaryPage = chosen->ancillaryPageId;
    return true;
}

void gTEKOApp::StartChosenDVB(const std::string& code) {
    // Every DVB hit comes from the PMT: the channel list names Teletext only.
    eDebug("DVB FROM PMT: %s, PID=%x\n", code.c_str(), subtitlePid);
    eDebug("-> Let's start DVB Subtitles\n");
    StartDVB(subtitlePid, dvbCompositionPage, dvbAncillaryPage);
}

void gTEKOApp::StartChosenTXT() {
    eDebug("-> Let's start TXT Subtitles\n");
    StartTXT(subtitlePid, subtitlePage);
}
