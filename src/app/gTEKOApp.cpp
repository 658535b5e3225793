#include "app/gTEKOApp.h"

#include "platform/Log.h"
#include "platform/Paths.h"

gTEKOApp::gTEKOApp() {
    eDebug("Application created.\n");
    pmtPid = -1;
    videoFormat = 4;
    keepRunning = true;
    serviceId = -1;
    playback = 0;
}

gTEKOApp::~gTEKOApp() {
    // After run() nothing is left to do here. An owner that started
    // decoding or created the display without run() (a test, a tool) must
    // not leave a reader thread drawing into a display that is destroyed
    // before the filter, nor a mapping behind: both are undone here.
    if (pesFilter.Running()) pesFilter.Stop();
    display.Destroy();
}

void gTEKOApp::loadConfiguration() {
    settings.LoadFromFile(paths::kConfig);
    options = config::ReadOptions(settings);
    useExternalChannels = options.choice.useExternalChannels;
    language = options.choice.language;
    secondaryLanguage = options.choice.secondaryLanguage;
    subtileType = options.choice.subtileType;
    useDVBFirst = options.choice.useDVBFirst;
    // No client may draw while the display is rebuilt.
    StopAll();
    display.Destroy();
    display.Create(options.font);
}
