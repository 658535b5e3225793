// The hand-off file "/tmp/TEKO.tmp" on arbitrary bytes: anyone on the box
// can write it, and the service watch reads it at every poll. Nothing may
// be read outside a buffer, and a second read of the same file reports no
// change (nothing in it is taken as new twice).
#include <cstdint>
#include <cstdlib>

#include "FileRoot.h"
#include "app/gTEKOApp.h"
#include "platform/Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzroot::Write(paths::kHandOff, data, size);
    gTEKOApp app;
    app.HasServiceChanged();
    if (app.HasServiceChanged() != 0) abort();
    return 0;
}
