// The daemon's one application object: it owns every component as a plain
// member for the life of the process, watches the service that the front
// end reports, chooses a subtitle stream for it and runs the half-second
// main loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/ContentCount.h"
#include "config/Options.h"
#include "config/Settings.h"
#include "config/Translator.h"
#include "app/ContentProbe.h"
#include "demux/PESFilter.h"
#include "demux/PMTLoader.h"
#include "display/FrameBufferDevice.h"
#include "dvbsub/DVBSubtitle.h"
#include "platform/Paths.h"
#include "platform/WorldFile.h"
#include "render/Presenter.h"
#include "teletext/TXTSubtitle.h"

class gTEKOApp {
public:
    gTEKOApp();
    virtual ~gTEKOApp();
    gTEKOApp(const gTEKOApp&) = delete;
    gTEKOApp& operator=(const gTEKOApp&) = delete;

    // The main loop (MainLoop.cpp); returns only once keepRunning is cleared,
    // which happens on this thread when the platform layer's poll sleep asks
    // for the end (a test or the simulator; never on a box).
    void run();
    // (Re)reads "/etc/TEKO.conf" over the store, copies the settings that
    // steer the subtitle selection, stops decoding and rebuilds the display
    // with the configured font.
    void loadConfiguration();

    // The only places where decoding starts and stops. The start results
    // are the PES filter's and are ignored by the loop.
    // `compositionPage` and `ancillaryPage`: the pages of the chosen
    // subtitling entry (-1: every page of the PID).
    int StartDVB(int pid, int compositionPage = -1, int ancillaryPage = -1);
    int StartTXT(int pid, int page);
    void StopAll();

    // The status line at the top of the screen (StatusMessage.cpp): drawn
    // only while "OSDMessages" is non-zero. Always 0.
    int debugMessage(std::string text);

    // 1 while the disable flag file exists.
    int IsDisabled();
    // Re-reads the hand-off file; 1 when subtitles must be chosen again
    // (the service changed, or a reload was requested and done), else 0.
    int HasServiceChanged();

    // Members in construction order: the clients and the filter that feeds
    // them come before the display they draw on, so the display is torn
    // down first and the filter (with its reader thread) last.
    DVBSubtitle dvbSubtitle;
    TXTSubtitle txtSubtitle;
    PESFilter pesFilter;
    PMTLoader pmtLoader;
    FrameBufferDevice display;
    // Lays the clients' pages out on the display.
    render::Presenter presenter;
    // The decoders hand their pages through this count to the presenter.
    ContentCount shownPages{presenter};
    // Watches the chosen language's stream of the other kind (Fallback.cpp).
    ContentProbe fallbackProbe;
    Settings settings;
    // The typed configuration, read from `settings` at every load.
    config::Options options;
    Translator translator;

    int serviceId = -1;
    int audioPid = -1;
    int teletextPid = -1;
    int videoPid = -1;
    int pmtPid = -1;
    int playback = 0;
    int videoFormat = 4;
    bool keepRunning = true;
    int subtitlePage = 0;
    int subtitlePid = 0;
    // The pages of the DVB entry that the last selection chose.
    int dvbCompositionPage = -1;
    int dvbAncillaryPage = -1;
    int useExternalChannels = 0;
    std::string language;
    std::string secondaryLanguage;
    int subtileType = 0;
    int useDVBFirst = 0;
    bool decoding = false;
    int osdClearCountdown = 0;
    // What the files in /tmp held at the last look (each told once).
    platform::FileState handOffState{paths::kHandOff};
    platform::FileState disableState{paths::kDisableFlag};
    platform::FileState reloadState{paths::kReloadFlag};
    bool handOffMissing = false;

    // The status line holds at most this many bytes, its end included.
    static constexpr size_t kStatusTextSize = 60;

private:
    // What the main loop carries from one poll to the next.
    struct LoopState {
        char statusText[kStatusTextSize];
        int rescanCountdown;
        int lastScanResult;
        int displayRetryCountdown;
        int displayRetryPolls;  // the back-off of the display's next attempt
        int64_t displayLostAt;  // steady clock, µs; -1: the display is up
        int fontRetryCountdown;
    };

    void ResetServiceState();
    // One poll after the sleep (MainLoop.cpp).
    void Poll(LoopState& state);
    // Brings back a display or a PES filter that failed to start, once the
    // fault that stopped it may have ended (MainLoop.cpp). False while there
    // is no display.
    bool RetryFailedDevices(LoopState& state);
    // Stops decoding, reads the tables and starts the first stream found
    // (Selection.cpp).
    void Select(LoopState& state);
    // One language's tries in the configured order; true when it started a
    // client. `primary` picks the status format of the DVB-last try.
    bool SearchLanguage(const std::string& code, bool primary, char* statusText);
    // The language's DVB entry of the viewer's kind (Selection.cpp): sets
    // subtitlePid and the pages; false when the language has none.
    bool FindDVB(const std::string& code);
    // The common end of a successful try, after its own log line.
    void StartChosenDVB(const std::string& code);
    void StartChosenTXT();
    // The status line of a stream from the PMT (Selection.cpp): the
    // language, the PID and, for Teletext, the page.
    static void StreamStatus(char* statusText, bool dvb, const std::string& code, int pid, int page);

    // EN 300 468 §6.2.41: whether a subtitling_type is of the kind that
    // "SubtileType" 2 (normal) or 5 (for the hard of hearing) asks for.
    static bool OfWantedKind(int type, int subtileType);
    // After a start from the PMT (Fallback.cpp): finds the language's
    // stream of the other kind and starts watching it.
    void ArmFallback(const std::string& code, bool chosenDvb);
    // Each poll: switches to that stream when the chosen one has shown
    // nothing since the start and it has shown text.
    void WatchFallback(LoopState& state);

    // The kind of the stream the selection started (set by its tries).
    bool chosenHardOfHearing = false;
    struct FallbackWatch {
        bool armed = false;
        bool dvb = false;
        int pid = 0;
        int page = 0;  // DVB composition page or Teletext page
        int ancillaryPage = -1;
        int fromPage = 0;  // the chosen stream's page, for the log
        std::string language;
        int64_t since = 0;  // platform::MonotonicMicros() at the start
    };
    FallbackWatch fallback;
};
