// The daemon's only output channel besides the screen: lines on standard
// error, "TEKO: " first. Callers end their own formats with "\n".
#pragma once

int eDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same without the prefix (the Teletext page dump).
int eDebug2(const char* format, ...) __attribute__((format(printf, 1, 2)));
