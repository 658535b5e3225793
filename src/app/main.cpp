#include "app/Log.h"

int main() {
    eDebug("Booting...\n");
    eDebug("Version: 2.08-04\n");
    eDebug("Compiled at: %s %s\n", __DATE__, __TIME__);
    return 0;
}
