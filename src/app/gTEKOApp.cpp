#include "app/gTEKOApp.h"

#include "platform/Log.h"
#include "platform/Paths.h"

gTEKOApp::gTEKOApp() {
    eDebug("Application created.\n");
    display.SetTranslator(&translator);
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
    settings.GetValue("UseExternalChannels", useExternalChannels);
    settings.GetValue("Language", language);
    settings.GetValue("SecondaryLanguage", secondaryLanguage);
    settings.GetValue("SubtileType", subtileType);
    settings.GetValue("UseDVBFirst", useDVBFirst);
    // No client may draw while the display is rebuilt.
    StopAll();
    display.Destroy();
    std::string font;
    settings.GetValue("Font", font);
    display.Create(font);
}
