// tekoctl: tells the subtitle daemon which service is on and switches its
// subtitles off, on, or to a reload of the configuration, by writing the
// files it watches.
#include "TekoCtl.h"

int main(int argc, char** argv) { return TekoCtlMain(argc, argv); }
