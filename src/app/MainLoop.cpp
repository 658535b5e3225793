// gTEKOApp's main loop on the main thread, and the only places where
// decoding starts and stops.
#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/Log.h"
#include "app/gTEKOApp.h"
#include "platform/Platform.h"
#include "platform/Signals.h"

namespace {
constexpr unsigned kPollMicros = 500000;
// Idle polls (about ten seconds) before the tables are read again, so that
// subtitles that start later on the same service are found.
constexpr int kRescanPolls = 20;
// A display that could not be created is tried again after 1 s, then after
// twice the wait before each time up to 30 s (in polls).
constexpr int kFirstDisplayRetryPolls = 2;
constexpr int kLastDisplayRetryPolls = 60;
}  // namespace

void gTEKOApp::run() {
    decoding = false;
    loadConfiguration();
    LoopState state;
    memset(state.statusText, 0, sizeof state.statusText);
    state.lastScanResult = 1;
    state.rescanCountdown = kRescanPolls;
    state.displayRetryCountdown = kFirstDisplayRetryPolls;
    state.displayRetryPolls = kFirstDisplayRetryPolls;
    state.displayLostAt = -1;
    state.fontRetryCountdown = kRescanPolls;
    pmtPid = -1;
    serviceId = -1;
    for (;;) {
        if (!keepRunning) {
            // The reader thread draws on the display: it must be gone before
            // the screen memory is unmapped.
            StopAll();
            // The status line too: nothing of the daemon's stays on the screen.
            if (osdClearCountdown > 0) debugMessage("");
            display.Destroy();
            eDebug("Exit from main loop...bye bye...\n");
            return;
        }
        // Whoever drives the daemon (a test, the simulator) ends the loop
        // through the poll sleep; the flag is cleared here, on this thread.
        if (!platform::PollSleep(kPollMicros)) {
            keepRunning = false;
            continue;
        }
        if (const int signal = platform::TakeStopSignal()) {
            eDebug("%s: stopping.\n", platform::SignalName(signal));
            keepRunning = false;
            continue;
        }
        Poll(state);
    }
}

void gTEKOApp::Poll(LoopState& state) {
    platform::FlushRepeats();
    if (platform::TakeReloadRequest()) {
        // As the reload flag asks it: the settings again, then the choice.
        eDebug("Reload configs requested (SIGHUP).\n");
        loadConfiguration();
        state.lastScanResult = 0;
    }
    if (IsDisabled()) {
        // Logged once per disabled period: decoding is stopped on entry.
        if (decoding) {
            StopAll();
            eDebug("-> Let's fall into zzzzzzz...cause we are disabled.\n");
        }
        // The first poll after the flag goes selects at once.
        state.rescanCountdown = 1;
        return;
    }
    const bool displayUp = RetryFailedDevices(state);
    if (decoding)
        state.rescanCountdown = kRescanPolls;
    else
        --state.rescanCountdown;

    // With status messages off the countdown runs on below 0 and never
    // reaches 0 again; the bound only keeps it from overflowing.
    if (osdClearCountdown > INT_MIN) --osdClearCountdown;
    if (osdClearCountdown == 0) debugMessage("");

    const int changed = HasServiceChanged();
    // Without a service (no hand-off file yet) there is nothing to look
    // for: the daemon waits quietly for the front end.
    if (serviceId < 0 && changed != 1) return;
    // Nothing can be shown without a display: the selection waits for it
    // (the display's return selects at once).
    if (!displayUp) return;
    if (changed == 1 || state.lastScanResult <= 0 || state.rescanCountdown <= 0) Select(state);
    WatchFallback(state);
}

// A display that could not be created (a driver that answered nothing at
// start or at the last reload) would otherwise stay down until the next
// reload request, and a PES filter whose
// start failed (a demultiplexer that refused the filter) until the next
// change of service: the viewer would see no subtitles for good.
bool gTEKOApp::RetryFailedDevices(LoopState& state) {
    if (decoding && !pesFilter.Running()) {
        eWarning("Subtitle decoding did not start; selecting again.\n");
        StopAll();
        state.rescanCountdown = 1;
    }
    auto over = [&state] {
        if (state.displayLostAt >= 0)
            eWarning("Display back after %.1f s\n",
                     double(platform::MonotonicMicros() - state.displayLostAt) / 1e6);
        state.displayLostAt = -1;
        state.displayRetryPolls = state.displayRetryCountdown = kFirstDisplayRetryPolls;
    };
    // Created again by a reload, or up all along. Without a usable font the
    // font files are looked at now and then, and read only once changed.
    if (display.IsCreated()) {
        if (--state.fontRetryCountdown <= 0) {
            state.fontRetryCountdown = kRescanPolls;
            if (!display.HasText()) display.RetryFontIfChanged();
        }
        over();
        return true;
    }
    // What failed was logged by the display's first failed Create; the
    // attempts after it are quiet but for the trace.
    if (state.displayLostAt < 0) state.displayLostAt = platform::MonotonicMicros();
    if (--state.displayRetryCountdown > 0) return false;
    state.displayRetryPolls = std::min(2 * state.displayRetryPolls, kLastDisplayRetryPolls);
    state.displayRetryCountdown = state.displayRetryPolls;
    // No client may draw while the display is rebuilt; decoding starts
    // again with the selection of this poll.
    state.rescanCountdown = 1;
    if (decoding) StopAll();
    if (display.Create(options.font) != 0) {
        eTrace("No display yet; next attempt in %d s\n", state.displayRetryPolls / 2);
        return false;
    }
    over();
    return true;
}

int gTEKOApp::StartDVB(int pid, int compositionPage, int ancillaryPage) {
    eDebug("Start DVB Subtile: PID=%x\n", pid);
    dvbSubtitle.maxShowTime = options.dvb.maxShowTime;
    presenter.dvb.Start(&display, options.dvb);
    dvbSubtitle.sink = &shownPages;
    dvbSubtitle.compositionPageId = compositionPage;
    dvbSubtitle.ancillaryPageId = ancillaryPage;
    dvbSubtitle.Start();
    const int result = pesFilter.Start(pid, dvbSubtitle, 0, true);
    decoding = true;
    return result;
}

int gTEKOApp::StartTXT(int pid, int page) {
    eDebug("Start TXT Subtile: PID=%x, PAGE=%x\n", pid, page);
    eDebug("VideoFormat: %d\n", videoFormat);
    presenter.teletext.Start(&display, options.teletext, videoFormat);
    txtSubtitle.sink = &shownPages;
    // While a recording plays, Teletext packets are held back by the
    // playback delay ("RecDelay" seconds); a DVB start never gets one.
    int delay = 0;
    if (playback == 2) {
        delay = options.recDelay;
        eDebug("Playback found, RecDelay:%d\n", delay);
    }
    txtSubtitle.Start(page, translator.Set());
    const int result = pesFilter.Start(pid, txtSubtitle, delay, false);
    decoding = true;
    return result;
}

void gTEKOApp::StopAll() {
    // The filter first: once its reader thread is joined no packet reaches
    // a client, and the clients can clear what they drew undisturbed.
    eDebug("Stop PES decoding...\n");
    pesFilter.Stop();
    eDebug("Stop TXT decoding...\n");
    txtSubtitle.Stop();
    eDebug("Stop DVB decoding...\n");
    dvbSubtitle.Stop();
    decoding = false;
    // What a next start shows is counted from then on, and a watch of the
    // other kind belongs to the start it was armed for.
    shownPages.Reset();
    fallbackProbe.Stop();
    fallback.armed = false;
}
