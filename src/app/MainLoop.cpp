// gTEKOApp's main loop on the main thread, and the only places where
// decoding starts and stops.
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
}  // namespace

void gTEKOApp::run() {
    decoding = false;
    loadConfiguration();
    LoopState state;
    memset(state.statusText, 0, sizeof state.statusText);
    state.lastScanResult = 1;
    state.rescanCountdown = kRescanPolls;
    state.displayRetryCountdown = kRescanPolls;
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
    RetryFailedDevices(state);
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
    if (changed == 1 || state.lastScanResult <= 0 || state.rescanCountdown <= 0) Select(state);
    WatchFallback(state);
}

// A display that could not be created (a driver that answered nothing at
// start, a font that was missing or broken at the last reload) would
// otherwise stay down until the next reload request, and a PES filter whose
// start failed (a demultiplexer that refused the filter) until the next
// change of service: the viewer would see no subtitles for good.
void gTEKOApp::RetryFailedDevices(LoopState& state) {
    if (decoding && !pesFilter.Running()) {
        eWarning("Subtitle decoding did not start; selecting again.\n");
        StopAll();
        state.rescanCountdown = 1;
    }
    if (display.IsCreated()) {
        state.displayRetryCountdown = kRescanPolls;
        return;
    }
    if (--state.displayRetryCountdown > 0) return;
    state.displayRetryCountdown = kRescanPolls;
    eWarning("No display; trying to create it again.\n");
    // No client may draw while the display is rebuilt; decoding starts
    // again with the selection of this poll.
    if (decoding) state.rescanCountdown = 1;
    StopAll();
    display.Create(options.font);
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
