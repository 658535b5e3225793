#include <errno.h>

#include <cstring>

#include "app/gTEKOApp.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

int main() {
    eDebug("Booting...\n");
    eDebug("Version: 2.08-04\n");
    eDebug("Compiled at: %s %s\n", __DATE__, __TIME__);
    // Two daemons would both draw: the second one goes.
    int holder = 0;
    const int lock = platform::LockPidFile(paths::kPidFile, holder);
    if (lock == 1) {
        eWarning("Another tekod is running (pid %d); exiting.\n", holder);
        return 1;
    }
    if (lock < 0) eWarning("Could not lock %s: %s; running without it\n", paths::kPidFile, strerror(errno));
    platform::InstallSignalHandlers();
    gTEKOApp app;
    app.run();
    return 0;
}
