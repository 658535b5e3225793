#include "SimOptions.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "display/IDisplayDevice.h"

namespace {

bool ToDouble(const std::string& text, double& out) {
    char* end = nullptr;
    out = strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && out >= 0;
}

bool ToInt(const std::string& text, int& out) {
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 10);
    if (text.empty() || !end || *end != '\0' || v < -2147483647L || v > 2147483647L) return false;
    out = int(v);
    return true;
}

// A PID or page id: decimal, or hexadecimal with 0x.
bool ToNumber(const std::string& text, int max, int& out) {
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 0);
    if (text.empty() || !end || *end != '\0' || v < 0 || v > max) return false;
    out = int(v);
    return true;
}

// A Teletext page as on screen, "100" to "899", into 0x100 to 0x899.
bool ToPage(const std::string& text, int& out) {
    if (text.size() != 3 || text[0] < '1' || text[0] > '8') return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    out = int(strtol(text.c_str(), nullptr, 16));
    return true;
}

// "LANG" or "LANG,SECOND", three letters each.
bool ToLanguages(const std::string& text, std::string& first, std::string& second) {
    const size_t comma = text.find(',');
    first = text.substr(0, comma);
    second = comma == std::string::npos ? "" : text.substr(comma + 1);
    auto code = [](const std::string& c) {
        if (c.size() != 3) return false;
        for (char ch : c)
            if (ch < 'a' || ch > 'z') return false;
        return true;
    };
    return code(first) && (comma == std::string::npos || code(second));
}

// "warning", "info" or "debug", as --help names them.
bool ToLogLevel(const std::string& text, platform::LogLevel& out) {
    static const std::pair<const char*, platform::LogLevel> kNames[] = {
        {"warning", platform::LogLevel::kWarning},
        {"info", platform::LogLevel::kInfo},
        {"debug", platform::LogLevel::kDebug},
    };
    for (const auto& name : kNames) {
        if (text != name.first) continue;
        out = name.second;
        return true;
    }
    return false;
}

// "A:B" into its two halves.
bool SplitPair(const std::string& text, std::string& a, std::string& b) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    a = text.substr(0, colon);
    b = text.substr(colon + 1);
    return true;
}

// "FROM:TO:X,Y,W,H": two stream times, then a rectangle of at least one
// pixel that starts on the screen.
bool ToMenu(const std::string& text, SimOptions::Menu& menu) {
    std::string rect, from, to;
    const size_t second = text.find(':', text.find(':') + 1);
    if (second == std::string::npos) return false;
    if (!SplitPair(text.substr(0, second), from, to) || !ToDouble(from, menu.from) || !ToDouble(to, menu.to) ||
        menu.to < menu.from)
        return false;
    rect = text.substr(second + 1);
    int* fields[4] = {&menu.x, &menu.y, &menu.width, &menu.height};
    for (int i = 0; i < 4; ++i) {
        const size_t comma = rect.find(',');
        if ((comma == std::string::npos) != (i == 3) || !ToInt(rect.substr(0, comma), *fields[i])) return false;
        rect = comma == std::string::npos ? "" : rect.substr(comma + 1);
    }
    return menu.x >= 0 && menu.y >= 0 && menu.width > 0 && menu.height > 0;
}

// Line lengths above this are no driver's: four times the widest line of
// full HD at 32 bits a pixel. Bounds the emulated memory (35 MB at 1080 lines).
constexpr int kMaxStride = 32768;

// "WxH": a screen from 320 x 240 to full HD, the sizes a box's display
// takes (720x576, 1280x720, 1920x1080 among them).
bool ToSize(const std::string& text, int& width, int& height) {
    const size_t x = text.find('x');
    if (x == std::string::npos || !ToInt(text.substr(0, x), width) || !ToInt(text.substr(x + 1), height)) return false;
    return width >= 320 && width <= kMaxScreenWidth && height >= 240 && height <= kMaxScreenHeight;
}

}  // namespace

const char* SimOptions::Usage() {
    return "Usage: tekod-sim --ts STREAM.ts --out DIR [options]\n"
           "       tekod-sim --ts STREAM.ts --list\n"
           "Runs the unchanged TEKO daemon on a recorded transport stream, with an emulated\n"
           "demultiplexer and framebuffer, and writes what a box would have shown.\n"
           "\n"
           "Stream and front end:\n"
           "  --ts FILE            the transport stream to replay as the tuned multiplex\n"
           "  --out DIR            where the output goes (see below); created if missing\n"
           "  --service SID        service to watch (decimal); default: the first service of\n"
           "                       the PAT that carries subtitles\n"
           "  --zap SECONDS:SID    switch to service SID at that stream time (repeatable)\n"
           "  --signal SECONDS:NAME  raise TERM, INT or HUP in the daemon at that stream time (repeatable)\n"
           "  --playback           the hand-off file reports a recording (Seekable 1)\n"
           "  --aspect CODE        the hand-off Aspect code (default 2)\n"
           "  --disable FROM:TO    the disable flag exists between those stream times\n"
           "                       (seconds; repeatable)\n"
           "  --reload SECONDS     a reload request at that stream time (repeatable)\n"
           "  --demux-outage FROM:TO  the demultiplexer is unplugged from FROM to TO\n"
           "                       seconds of stream time: its node is gone and the\n"
           "                       descriptors open at FROM fail with ENODEV for good\n"
           "                       (repeatable)\n"
           "  --menu FROM:TO:X,Y,W,H  the front end's menu: an opaque dark grey\n"
           "                       rectangle of W x H screen pixels at X,Y, painted\n"
           "                       straight into the screen memory from FROM to TO\n"
           "                       seconds of stream time, then erased (repeatable;\n"
           "                       the others stay where they overlap)\n"
           "  --list               print the services (with their SDT names) and subtitle\n"
           "                       streams of the capture: PID, DVB or Teletext, language,\n"
           "                       type, DVB page ids or Teletext page; without PAT/PMT the\n"
           "                       PIDs whose PES carry subtitle data and the DVB page ids\n"
           "                       or Teletext pages seen in them. Ends with an example\n"
           "                       command; runs nothing and needs no --out\n"
           "Choice of subtitles (written into the copied configuration):\n"
           "  --language L[,S]     \"Language\" L and \"SecondaryLanguage\" S, three-letter\n"
           "                       codes as the daemon takes them (fre, ger, not fra, deu)\n"
           "  --type 2|5           \"SubtileType\": 2 subtitles, 5 for the hard of hearing\n"
           "Captures without PAT/PMT (the replay gains a PAT, a PMT naming the PID and a\n"
           "PCR from the PES time stamps; only that PID is played, from DIR/wrapped.ts):\n"
           "  --pid PID            the subtitle PID to play (decimal or 0x hex); alone, it\n"
           "                       plays what its PES carry (the first DVB page id, or the\n"
           "                       first Teletext subtitle page)\n"
           "  --dvb                ... as DVB subtitles\n"
           "  --teletext PAGE      ... as Teletext subtitles on PAGE as on screen (888)\n"
           "  --page-id N          DVB composition page of the PMT (default: the page id\n"
           "                       of the PID's first page composition segment)\n"
           "  The made-up PMT carries the --language (else the configured \"Language\"),\n"
           "  the --type (else 2; as subtitling type 0x10 or 0x20 for DVB) and --service\n"
           "  as its service id (else 1).\n"
           "Files (copied into the root's etc/):\n"
           "  --config FILE        configuration (default: the shipped data/TEKO.conf)\n"
           "  --channels FILE      channel list (default: the shipped example)\n"
           "  --translation FILE   translation table (default: the shipped data/TEKO.translation)\n"
           "  --font FILE          font placed at the daemon's font path (default DejaVu Sans)\n"
           "  --root DIR           folder standing in for / (default DIR/root)\n"
           "Screen and pace:\n"
           "  --bpp 32|8           framebuffer depth (default 32)\n"
           "  --size WxH           the screen's visible size in pixels, 320x240 to\n"
           "                       1920x1080 (default 720x576; an HD box has 1280x720 or\n"
           "                       1920x1080): the daemon draws for it, the screens are\n"
           "                       that size, --menu rectangles are in its pixels\n"
           "  --stride BYTES       framebuffer line length, at least the width's pixels and\n"
           "                       at most 32768 (default width x bytes per pixel)\n"
           "  --palette FILE       8-bit screens: the colours the front end would program,\n"
           "                       one entry a line, \"INDEX 0xAARRGGBB\" (INDEX 0-255, '#'\n"
           "                       comments), over the default: 0 transparent, 24 black,\n"
           "                       31 white (the daemon's default palette settings),\n"
           "                       0xF0-0xFF the DVB default 4-bit CLUT (what the DVB\n"
           "                       decoder writes), 1-15 sixteen named colours, the rest\n"
           "                       a grey ramp (level = index)\n"
           "  --no-blit            a driver without FBIO_BLIT (the request fails with\n"
           "                       ENOTTY; the memory is the screen): a screen is taken\n"
           "                       whenever a daemon thread waits and the memory changed\n"
           "  --speed X            paced: stream time runs X times as fast as real time, to\n"
           "                       watch a run live. Default: simulated time, as fast as\n"
           "                       the machine allows; time only moves while every thread\n"
           "                       of the daemon waits, so a run gives the same log,\n"
           "                       timeline and screens on any machine under any load\n"
           "                       (also when paced)\n"
           "  --loop               replay the stream over and over (needs --duration\n"
           "                       unless paced)\n"
           "  --duration SECONDS   stop after that much stream time\n"
           "  --raw                also write screens/NNNNNN.raw beside each PNG: the\n"
           "                       screen memory at that blit, the --size's pixels row by row,\n"
           "                       4 bytes (0xAARRGGBB, little-endian) or 1 byte (palette\n"
           "                       index) a pixel, for pixel comparisons\n"
           "  --log-level LEVEL    what reaches log.txt: debug (default: everything,\n"
           "                       the decoders' trace of each packet, segment and row\n"
           "                       included), info (what a box's log holds: the daemon's\n"
           "                       events, warnings and errors) or warning\n"
           "  --quiet              no progress lines\n"
           "  --help               this text\n"
           "Output in DIR: log.txt (the daemon's log), screens/NNNNNN.png (the --size\n"
           "screen after each blit that changed it, NNNNNN the blit's number), timeline.tsv\n"
           "(stream time of each such blit in ms, blit, changed rows, PNG, Teletext lines,\n"
           "size of log.txt at the blit, PES packets handed to the decoder before the\n"
           "blit, Teletext row of each line), pes.tsv (stream time in ms, stream id in\n"
           "hex and size of each PES packet the daemon's filter handed to its decoder),\n"
           "index.html.\n"
           "\n"
           "Exit status: 0 after a run or a list; 2 when the options or the stream cannot\n"
           "give anything: no PAT without --pid (use --list, then --pid), a service or PID\n"
           "that is not there, a PID without subtitle PES, a --teletext page or --page-id\n"
           "not on air; one line on standard error says what the capture carries. A\n"
           "service whose subtitles match none of the languages and the type, or that has\n"
           "none, gets a warning line of what it carries, and the run goes on (the log\n"
           "shows the daemon's choice; a --zap or the --channels list may find some).\n";
}

bool SimOptions::Parse(int argc, char** argv, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v, a, b;
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--playback") {
            playback = true;
        } else if (arg == "--loop") {
            loop = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--raw") {
            raw = true;
        } else if (arg == "--no-blit") {
            noBlit = true;
        } else if (arg == "--palette") {
            if (!value(palette)) return false;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--dvb") {
            dvb = true;
        } else if (arg == "--language") {
            if (!value(v)) return false;
            if (!ToLanguages(v, language, secondLanguage)) {
                error = "--language takes LANG or LANG,SECOND (three lower-case letters), not '" + v + "'";
                return false;
            }
        } else if (arg == "--type") {
            if (!value(v)) return false;
            if (v != "2" && v != "5") {
                error = "--type takes 2 (subtitles) or 5 (for the hard of hearing), not '" + v + "'";
                return false;
            }
            type = v[0] - '0';
        } else if (arg == "--pid" || arg == "--page-id") {
            int n = 0;
            if (!value(v)) return false;
            if (!ToNumber(v, arg == "--pid" ? 0x1FFE : 0xFFFF, n)) {
                error = arg + " takes a number (decimal or 0x hex), not '" + v + "'";
                return false;
            }
            (arg == "--pid" ? pid : pageId) = n;
        } else if (arg == "--teletext") {
            if (!value(v)) return false;
            if (!ToPage(v, teletextPage)) {
                error = "--teletext takes a page as on screen, 100 to 899, not '" + v + "'";
                return false;
            }
        } else if (arg == "--log-level") {
            if (!value(v)) return false;
            if (!ToLogLevel(v, logLevel)) {
                error = "--log-level takes debug, info or warning, not '" + v + "'";
                return false;
            }
        } else if (arg == "--ts") {
            if (!value(ts)) return false;
        } else if (arg == "--out") {
            if (!value(out)) return false;
        } else if (arg == "--config") {
            if (!value(config)) return false;
        } else if (arg == "--channels") {
            if (!value(channels)) return false;
        } else if (arg == "--translation") {
            if (!value(translation)) return false;
        } else if (arg == "--font") {
            if (!value(font)) return false;
        } else if (arg == "--root") {
            if (!value(root)) return false;
        } else if (arg == "--service" || arg == "--aspect" || arg == "--bpp" || arg == "--stride") {
            int n = 0;
            if (!value(v)) return false;
            if (!ToInt(v, n)) {
                error = arg + " takes a whole number, not '" + v + "'";
                return false;
            }
            if (arg == "--service") service = n;
            if (arg == "--aspect") aspect = n;
            if (arg == "--bpp") bpp = n;
            if (arg == "--stride") stride = n;
        } else if (arg == "--speed" || arg == "--duration" || arg == "--reload") {
            double d = 0;
            if (!value(v)) return false;
            if (!ToDouble(v, d)) {
                error = arg + " takes a number of seconds or a factor, not '" + v + "'";
                return false;
            }
            if (arg == "--speed") speed = d;
            if (arg == "--duration") duration = d;
            if (arg == "--reload") reloads.push_back(d);
        } else if (arg == "--signal") {
            Signal signal{};
            if (!value(v)) return false;
            const bool split = SplitPair(v, a, b) && ToDouble(a, signal.at);
            signal.signal = b == "TERM" ? SIGTERM : b == "INT" ? SIGINT : b == "HUP" ? SIGHUP : 0;
            if (!split || signal.signal == 0) {
                error = "--signal takes SECONDS:TERM, SECONDS:INT or SECONDS:HUP, not '" + v + "'";
                return false;
            }
            signals.push_back(signal);
        } else if (arg == "--zap") {
            Zap zap{};
            if (!value(v)) return false;
            if (!SplitPair(v, a, b) || !ToDouble(a, zap.at) || !ToInt(b, zap.service)) {
                error = "--zap takes SECONDS:SID, not '" + v + "'";
                return false;
            }
            zaps.push_back(zap);
        } else if (arg == "--disable" || arg == "--demux-outage") {
            Range range{};
            if (!value(v)) return false;
            if (!SplitPair(v, a, b) || !ToDouble(a, range.from) || !ToDouble(b, range.to) ||
                range.to < range.from) {
                error = arg + " takes FROM:TO seconds, not '" + v + "'";
                return false;
            }
            (arg == "--disable" ? disables : demuxOutages).push_back(range);
        } else if (arg == "--size") {
            if (!value(v)) return false;
            if (!ToSize(v, width, height)) {
                error = "--size takes WIDTHxHEIGHT from 320x240 to 1920x1080 (such as 1280x720), not '" + v + "'";
                return false;
            }
        } else if (arg == "--menu") {
            Menu menu{};
            if (!value(v)) return false;
            if (!ToMenu(v, menu)) {
                error = "--menu takes FROM:TO:X,Y,W,H (seconds, then pixels of the screen), not '" + v + "'";
                return false;
            }
            menus.push_back(menu);
        } else {
            error = "unknown option '" + arg + "' (see --help)";
            return false;
        }
    }
    if (help) return true;
    if (pid < 0 && (dvb || teletextPage >= 0 || pageId >= 0)) {
        error = "--dvb, --teletext and --page-id go with --pid";
        return false;
    }
    if (dvb && teletextPage >= 0) {
        error = "--dvb and --teletext exclude each other";
        return false;
    }
    if (pageId >= 0 && teletextPage >= 0) {
        error = "--page-id is for DVB subtitles, not with --teletext";
        return false;
    }
    if (list) {
        if (ts.empty()) error = "--list needs --ts STREAM.ts";
        return !ts.empty();
    }
    if (ts.empty() || out.empty()) {
        error = "--ts STREAM.ts and --out DIR are required (see --help)";
        return false;
    }
    if (bpp != 32 && bpp != 8) {
        error = "--bpp takes 32 or 8";
        return false;
    }
    if (stride != 0 && (stride < width * (bpp / 8) || stride > kMaxStride)) {
        error = "--stride must hold at least " + std::to_string(width) + " pixels and be at most " +
                std::to_string(kMaxStride) + " bytes";
        return false;
    }
    for (const Menu& m : menus) {
        if (m.x < width && m.y < height) continue;
        error = "--menu " + std::to_string(m.x) + "," + std::to_string(m.y) + " is off the " + std::to_string(width) +
                "x" + std::to_string(height) + " screen";
        return false;
    }
    if (speed < 0 || (speed > 0 && speed < 0.01)) {
        error = "--speed must be above 0.01";
        return false;
    }
    // Unpaced, a loop would run for ever as fast as it can, and fill the disk.
    if (loop && speed == 0 && duration <= 0) {
        error = "--loop needs --duration SECONDS (or --speed X to watch it live)";
        return false;
    }
    return true;
}
