#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>

// One vsnprintf into a fixed buffer and one write per call: output longer
// than 1023 characters is cut, and lines of two threads interleave only as
// whole writes.
int eDebug(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return fprintf(stderr, "TEKO: %s", buffer);
}

int eDebug2(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return fputs(buffer, stderr);
}
