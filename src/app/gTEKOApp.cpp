#include "app/gTEKOApp.h"

#include "app/Log.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

gTEKOApp::gTEKOApp() {
    eDebug("Application created.\n");
    pmtPid = -1;
    videoFormat = 4;
    keepRunning = true;
    serviceId = -1;
    playback = 0;
}

gTEKOApp::~gTEKOApp() = default;

void gTEKOApp::loadConfiguration() {
    settings.LoadFromFile(paths::kConfig);
    settings.GetValue("UseExternalChannels", useExternalChannels);
    settings.GetValue("Language", language);
    settings.GetValue("SecondaryLanguage", secondaryLanguage);
    settings.GetValue("SubtileType", subtileType);
    settings.GetValue("UseDVBFirst", useDVBFirst);
}

void gTEKOApp::run() {
    decoding = false;
    loadConfiguration();
    pmtPid = -1;
    serviceId = -1;
    for (;;) {
        if (!keepRunning) {
            eDebug("Exit from main loop...bye bye...\n");
            return;
        }
        if (!platform::PollSleep(500000)) {
            keepRunning = false;
            continue;
        }
        if (IsDisabled()) continue;
        HasServiceChanged();
    }
}
