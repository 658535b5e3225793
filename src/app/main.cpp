#include "platform/Log.h"
#include "app/gTEKOApp.h"

int main() {
    eDebug("Booting...\n");
    eDebug("Version: 2.08-04\n");
    eDebug("Compiled at: %s %s\n", __DATE__, __TIME__);
    gTEKOApp app;
    app.run();
    return 0;
}
