// The daemon's one application object: it owns every component as a plain
// member for the life of the process, watches the service that the front
// end reports and runs the half-second main loop.
#pragma once

#include <string>

#include "config/Settings.h"
#include "config/Translator.h"

class gTEKOApp {
public:
    gTEKOApp();
    virtual ~gTEKOApp();
    gTEKOApp(const gTEKOApp&) = delete;
    gTEKOApp& operator=(const gTEKOApp&) = delete;

    // The main loop; returns only once keepRunning is cleared.
    void run();
    // (Re)reads "/etc/TEKO.conf" over the store and copies the settings that
    // steer the subtitle selection.
    void loadConfiguration();

    // 1 while the disable flag file exists.
    int IsDisabled();
    // Re-reads the hand-off file; 1 when subtitles must be chosen again
    // (the service changed, or a reload was requested and done), else 0.
    int HasServiceChanged();

    Settings settings;
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
    int useExternalChannels = 0;
    std::string language;
    std::string secondaryLanguage;
    int subtileType = 0;
    int useDVBFirst = 0;
    bool decoding = false;
    int osdClearCountdown = 0;

private:
    void ResetServiceState();
};
