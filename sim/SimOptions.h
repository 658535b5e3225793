// The command line of tekod-sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Log.h"

struct SimOptions {
    std::string ts;
    std::string out;
    int service = -1;  // -1: the first service of the PAT that carries subtitles
    struct Zap {
        double at;
        int service;
    };
    std::vector<Zap> zaps;
    bool playback = false;
    int aspect = 2;
    struct Range {
        double from, to;
    };
    std::vector<Range> disables;
    // The demultiplexer unplugged between two stream times.
    std::vector<Range> demuxOutages;
    // The front end's menu: an opaque rectangle (screen pixels) between two
    // stream times.
    struct Menu {
        double from, to;
        int x, y, width, height;
    };
    std::vector<Menu> menus;
    std::vector<double> reloads;
    struct Signal {
        double at;
        int signal;
    };
    std::vector<Signal> signals;
    std::string config, channels, translation, font, root;
    int bpp = 32;
    // The screen's visible size (the driver's xres x yres).
    int width = 720, height = 576;
    int stride = 0;
    std::string palette;  // 8-bit screens: a palette file over the default one
    bool noBlit = false;  // a driver without FBIO_BLIT: the memory is the screen
    double speed = 0;  // 0: as fast as the machine allows; X: X times real time
    bool loop = false;
    double duration = 0;  // stream seconds; 0: until the stream ends
    bool quiet = false;
    bool raw = false;  // also write each changed screen's raw memory
    // The daemon's log level; a box runs at info.
    platform::LogLevel logLevel = platform::LogLevel::kDebug;
    bool help = false;
    bool list = false;  // print the capture's services and subtitle streams, run nothing
    // What the configuration file would say ("" / 0: as it says).
    std::string language, secondLanguage;
    int type = 0;  // "SubtileType": 2 or 5
    // A capture without PAT/PMT: the PID to play, and what it carries.
    int pid = -1;
    bool dvb = false;
    int teletextPage = -1;  // as on screen, 0x100 to 0x899 (888 is 0x888)
    int pageId = -1;        // DVB composition page of the made-up PMT

    // Parses argv; false with a one-line `error` when the words are off.
    bool Parse(int argc, char** argv, std::string& error);
    static const char* Usage();
};
