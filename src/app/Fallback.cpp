// gTEKOApp's fallback to the other kind of subtitles. Some broadcasters
// send their normal subtitle stream (DVB subtitling_type 0x10-0x16,
// Teletext type 2) with nothing but clears while the one for the hard of
// hearing (0x20-0x26, type 5) carries the text, or the other way round;
// with the configured kind the viewer would see nothing at all. So while
// the stream started from the PMT has shown nothing, the language's stream
// of the other kind in the same PMT is watched by a cheap probe, and once
// the chosen one has been empty for kFallbackMicros while the other has
// shown text kFallbackContent times, decoding moves over to it. A stream
// that has shown text once since the start is never left; the next
// selection (a zap, a reload) starts from the configured choice again.

#include "app/gTEKOApp.h"
#include "platform/Constants.h"
#include "platform/Log.h"
#include "platform/Platform.h"

namespace {
constexpr int64_t kFallbackMicros = 30 * 1000000LL;
constexpr int kFallbackContent = 3;
}  // namespace

void gTEKOApp::ArmFallback(const std::string& code, bool chosenDvb) {
    const int other = chosenHardOfHearing ? ids::kTeletextTypeSubtitle : ids::kTeletextTypeHearingImpaired;
    const DVBDescriptor* dvb = nullptr;
    if (useDVBFirst != 2)
        for (const DVBDescriptor* d : pmtLoader.DvbList()) {
            if (d->serviceId != serviceId || d->language != code || !OfWantedKind(d->type, other)) continue;
            if (chosenDvb && d->pid == subtitlePid && d->compositionPageId == dvbCompositionPage) continue;
            dvb = d;
            break;
        }
    const TXTDescriptor* txt = nullptr;
    for (const TXTDescriptor* d : pmtLoader.TxtList()) {
        if (d->serviceId != serviceId || d->language != code || d->type != other) continue;
        if (!chosenDvb && d->pid == subtitlePid && d->page == subtitlePage) continue;
        txt = d;
        break;
    }
    // The configured order of DVB and Teletext holds for the other kind too.
    if (dvb && txt) {
        if (useDVBFirst == 1)
            txt = nullptr;
        else
            dvb = nullptr;
    }
    FallbackWatch watch;
    watch.language = code;
    watch.fromPage = chosenDvb ? dvbCompositionPage : subtitlePage;
    if (dvb) {
        watch.dvb = true;
        watch.pid = dvb->pid;
        watch.page = dvb->compositionPageId;
        watch.ancillaryPage = dvb->ancillaryPageId;
        watch.armed = fallbackProbe.StartDvb(watch.pid, watch.page);
    } else if (txt) {
        watch.pid = txt->pid;
        watch.page = txt->page;
        watch.armed = fallbackProbe.StartTeletext(watch.pid, watch.page);
    }
    if (!watch.armed) return;
    watch.since = platform::MonotonicMicros();
    fallback = watch;
    eDebug("Watching %s subtitles %s 0x%x %x in case these stay empty\n",
           chosenHardOfHearing ? "normal" : "hard-of-hearing", code.c_str(), watch.pid, watch.page);
}

void gTEKOApp::WatchFallback(LoopState& state) {
    if (!fallback.armed) return;
    if (shownPages.Shown() > 0) {
        // The chosen stream has text: a quiet scene later is no reason to go.
        fallbackProbe.Stop();
        fallback.armed = false;
        return;
    }
    fallbackProbe.Poll();
    const int64_t waited = platform::MonotonicMicros() - fallback.since;
    const int content = fallbackProbe.ContentCount();
    if (waited < kFallbackMicros || content < kFallbackContent) return;

    const FallbackWatch to = fallback;
    const int fromPid = subtitlePid;
    eDebug("Subtitles %s 0x%x %x showed nothing for %lld s while the %s ones 0x%x %x showed text %d times: switching\n",
           to.language.c_str(), fromPid, to.fromPage, (long long)(waited / 1000000),
           chosenHardOfHearing ? "normal" : "hard-of-hearing", to.pid, to.page, content);
    StopAll();
    chosenHardOfHearing = !chosenHardOfHearing;
    subtitlePid = to.pid;
    if (to.dvb) {
        dvbCompositionPage = to.page;
        dvbAncillaryPage = to.ancillaryPage;
        StreamStatus(state.statusText, true, to.language, to.pid, 0);
        StartChosenDVB(to.language);
    } else {
        subtitlePage = to.page;
        StreamStatus(state.statusText, false, to.language, to.pid, to.page);
        StartChosenTXT();
    }
    debugMessage(state.statusText);
}
