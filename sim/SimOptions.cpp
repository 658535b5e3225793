#include "SimOptions.h"

#include <cstdlib>
#include <cstring>

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

// "A:B" into its two halves.
bool SplitPair(const std::string& text, std::string& a, std::string& b) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    a = text.substr(0, colon);
    b = text.substr(colon + 1);
    return true;
}

}  // namespace

const char* SimOptions::Usage() {
    return "Usage: tekod-sim --ts STREAM.ts --out DIR [options]\n"
           "Runs the unchanged TEKO daemon on a recorded transport stream, with an emulated\n"
           "demultiplexer and framebuffer, and writes what a box would have shown.\n"
           "\n"
           "Stream and front end:\n"
           "  --ts FILE            the transport stream to replay as the tuned multiplex\n"
           "  --out DIR            where the output goes (see below); created if missing\n"
           "  --service SID        service to watch (decimal); default: the first service of\n"
           "                       the PAT that carries subtitles\n"
           "  --zap SECONDS:SID    switch to service SID at that stream time (repeatable)\n"
           "  --playback           the hand-off file reports a recording (Seekable 1)\n"
           "  --aspect CODE        the hand-off Aspect code (default 2)\n"
           "  --disable FROM:TO    the disable flag exists between those stream times\n"
           "                       (seconds; repeatable)\n"
           "  --reload SECONDS     a reload request at that stream time (repeatable)\n"
           "Files (copied into the root's etc/):\n"
           "  --config FILE        configuration (default: the shipped data/TEKO.conf)\n"
           "  --channels FILE      channel list (default: the shipped example)\n"
           "  --translation FILE   translation table (default: the shipped data/TEKO.translation)\n"
           "  --font FILE          font placed at the daemon's font path (default DejaVu Sans)\n"
           "  --root DIR           folder standing in for / (default DIR/root)\n"
           "Screen and pace:\n"
           "  --bpp 32|8           framebuffer depth (default 32)\n"
           "  --stride BYTES       framebuffer line length (default width x bytes per pixel)\n"
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
           "                       screen memory at that blit, 720x576 pixels row by row,\n"
           "                       4 bytes (0xAARRGGBB, little-endian) or 1 byte (palette\n"
           "                       index) a pixel, for pixel comparisons\n"
           "  --quiet              no progress lines\n"
           "  --help               this text\n"
           "Output in DIR: log.txt (the daemon's log), screens/NNNNNN.png (the 720x576\n"
           "screen after each blit that changed it, NNNNNN the blit's number), timeline.tsv\n"
           "(stream time of each such blit in ms, blit, changed rows, PNG, Teletext lines,\n"
           "size of log.txt at the blit),\n"
           "index.html.\n";
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
        } else if (arg == "--zap") {
            Zap zap{};
            if (!value(v)) return false;
            if (!SplitPair(v, a, b) || !ToDouble(a, zap.at) || !ToInt(b, zap.service)) {
                error = "--zap takes SECONDS:SID, not '" + v + "'";
                return false;
            }
            zaps.push_back(zap);
        } else if (arg == "--disable") {
            Range range{};
            if (!value(v)) return false;
            if (!SplitPair(v, a, b) || !ToDouble(a, range.from) || !ToDouble(b, range.to) ||
                range.to < range.from) {
                error = "--disable takes FROM:TO seconds, not '" + v + "'";
                return false;
            }
            disables.push_back(range);
        } else {
            error = "unknown option '" + arg + "' (see --help)";
            return false;
        }
    }
    if (help) return true;
    if (ts.empty() || out.empty()) {
        error = "--ts STREAM.ts and --out DIR are required (see --help)";
        return false;
    }
    if (bpp != 32 && bpp != 8) {
        error = "--bpp takes 32 or 8";
        return false;
    }
    if (stride != 0 && stride < 720 * (bpp / 8)) {
        error = "--stride must hold at least 720 pixels";
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
