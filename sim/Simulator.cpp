#include "Simulator.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>

#include "EmulatedDemux.h"
#include "EmulatedFrameBuffer.h"
#include "FrontEnd.h"
#include "Report.h"
#include "ScreenWriter.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "StreamChoice.h"
#include "TsInfo.h"
#include "TsReplay.h"
#include "app/gTEKOApp.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#ifndef TEKO_DATA_DIR
#define TEKO_DATA_DIR "data"
#endif

namespace {

constexpr const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// After the last packet the daemon gets this much stream time to finish
// what the packets started (a blit, a clear) before the run ends.
constexpr int64_t kGraceMicros = 1500000;

void MakeDirs(const std::string& path) {
    for (size_t pos = 1; pos != std::string::npos; pos = path.find('/', pos + 1))
        mkdir(path.substr(0, pos).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

std::string Dirname(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Basename(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "VmRSS:" (resident now) or "VmHWM:" (the peak) of /proc/self/status.
long ResidentKiB(const char* which = "VmRSS:") {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == which) {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Everything the daemon writes to standard error goes to log.txt, byte for
// byte; the simulator's own words keep the original standard error.
class LogCapture {
public:
    bool Open(const std::string& path) {
        fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
        reader_ = open(path.c_str(), O_RDONLY);
        if (fd_ < 0 || reader_ < 0) return false;
        fflush(stderr);
        saved_ = dup(2);
        dup2(fd_, 2);
        return true;
    }
    ~LogCapture() {
        fflush(stderr);
        if (saved_ >= 0) dup2(saved_, 2), close(saved_);
        if (fd_ >= 0) close(fd_);
        if (reader_ >= 0) close(reader_);
    }
    // The original standard error.
    int SavedFd() const { return saved_ >= 0 ? saved_ : 2; }
    // Bytes logged up to the last call of Fresh.
    int64_t Offset() const { return int64_t(offset_); }
    // What was logged since the last call.
    std::string Fresh() {
        std::string text;
        char buf[4096];
        ssize_t n;
        while ((n = pread(reader_, buf, sizeof buf, offset_)) > 0) {
            text.append(buf, size_t(n));
            offset_ += n;
        }
        return text;
    }

private:
    int fd_ = -1, reader_ = -1, saved_ = -1;
    off_t offset_ = 0;
};

}  // namespace

bool Simulator::CopyFile(const std::string& from, const std::string& to, std::string& error) const {
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        error = "cannot read " + from;
        return false;
    }
    MakeDirs(Dirname(to));
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    // Streaming an empty file's buffer sets failbit, although an empty file
    // (an empty configuration, say) is a file to try like any other.
    if (in.peek() != std::ifstream::traits_type::eof()) out << in.rdbuf();
    if (!out) {
        error = "cannot write " + to;
        return false;
    }
    return true;
}

bool Simulator::SetUpRoot(std::string& error) {
    for (const char* sub : {"/etc", "/tmp", "/dev/dvb/adapter0", "/dev/fb", "/usr/share/fonts"})
        MakeDirs(root_ + sub);
    const std::string data = TEKO_DATA_DIR;
    auto pick = [&](const std::string& given, const char* shipped) { return given.empty() ? data + "/" + shipped : given; };
    if (!CopyFile(pick(options_.config, "TEKO.conf"), root_ + paths::kConfig, error)) return false;
    if (!CopyFile(pick(options_.channels, "TEKO.channels"), root_ + paths::kChannels, error)) return false;
    if (!CopyFile(pick(options_.translation, "TEKO.translation"), root_ + paths::kTranslation, error))
        return false;
    std::string font = options_.font.empty() ? kDefaultFont : options_.font;
    if (!CopyFile(font, root_ + paths::kDefaultFont, error)) return false;
    // A run starts as a box boots: no hand-off file and no flags yet.
    for (const char* stale : {paths::kHandOff, paths::kDisableFlag, paths::kReloadFlag})
        unlink((root_ + stale).c_str());
    return true;
}

int Simulator::Prepare(std::string& error) {
    TsInfo info;
    if (access(options_.ts.c_str(), R_OK) != 0) {
        error = "cannot read " + options_.ts;
        return 2;
    }
    if (!info.Load(options_.ts, error)) return 2;
    played_ = options_.ts;
    if (options_.pid >= 0 ? !WrapPid(info, error) : !info.HasPat()) {
        if (error.empty()) error = NoPat(info);
        return 2;
    }
    const TsService* service =
        options_.service >= 0 ? info.Find(options_.service) : choice::FirstOnAir(info);
    if (!service) {
        error = options_.service >= 0
                    ? "service " + std::to_string(options_.service) + " is not in " + options_.ts
                    : "no service of " + options_.ts + " carries subtitles (name one with --service; --list shows them)";
        return 2;
    }
    for (const SimOptions::Zap& zap : options_.zaps) {
        if (!info.Find(zap.service)) {
            error = "service " + std::to_string(zap.service) + " is not in " + options_.ts;
            return 2;
        }
    }
    service_ = service->serviceId;
    root_ = options_.root.empty() ? options_.out + "/root" : options_.root;
    MakeDirs(options_.out + "/screens");
    if (!SetUpRoot(error) || !WriteChoice(error)) return 2;
    return CheckChoice(info, *service, error);
}

int Simulator::Run() {
    TsInfo info;
    std::string error;
    info.Load(played_, error);
    SimClock clock(options_.speed);
    TsReplay replay(clock);
    if (!replay.Load(played_, &error)) {
        fprintf(stderr, "tekod-sim: %s\n", error.c_str());
        return 2;
    }
    if (replay.SkippedBytes() > 0)
        fprintf(stderr, "tekod-sim: %s: %zu bytes outside transport stream packets skipped (lost sync, or a short last packet)\n",
                options_.ts.c_str(), replay.SkippedBytes());
    replay.SetLoop(options_.loop);
    EmulatedDemux demux(replay, clock);
    FrameBufferConfig config;
    config.bitsPerPixel = options_.bpp;
    config.xres = options_.width;
    config.yres = options_.height;
    config.lineLength = options_.stride;
    config.noBlit = options_.noBlit;
    if (!options_.palette.empty() && !Palette::Load(options_.palette, config.palette, error)) {
        fprintf(stderr, "tekod-sim: --palette %s\n", error.c_str());
        return 2;
    }
    EmulatedFrameBuffer framebuffer(config);
    // Screens are written off the daemon's path: a blit costs it a copy of
    // the rows that changed.
    ScreenWriter screens(options_.out + "/screens", options_.raw, framebuffer.BitsPerPixel(),
                         framebuffer.LineLength(), framebuffer.MemoryBytes(), framebuffer.Width(), framebuffer.Height(),
                         framebuffer.Colours());
    Report report(options_.out);
    if (!report.Open()) {
        fprintf(stderr, "tekod-sim: cannot write %s/timeline.tsv and pes.tsv\n", options_.out.c_str());
        return 2;
    }

    // Stream time across loops: whole passes plus the position in this one.
    auto streamMicros = [&]() -> int64_t {
        if (!replay.Started()) return 0;
        return int64_t(replay.Loops()) * replay.DurationMicros() + replay.PositionMicros();
    };

    LogCapture log;
    if (!log.Open(options_.out + "/log.txt")) {
        fprintf(stderr, "tekod-sim: cannot write %s/log.txt\n", options_.out.c_str());
        return 2;
    }
    platform::SetLogLevel(options_.logLevel);
    size_t lines = 0;
    // The Teletext lines drawn since the last blit, as the viewer reads them,
    // with their rows (the client reports each line before the blit that
    // shows it), and the PES packets handed to the decoder so far.
    std::mutex drawnMutex;
    std::vector<std::string> pendingLines;
    std::vector<int> pendingRows;
    int64_t pesHanded = 0;
    // Runs inside the daemon's FBIO_BLIT, so the screen memory holds still.
    framebuffer.SetBlitObserver([&](const EmulatedFrameBuffer::BlitEvent& event) {
        const int64_t at = streamMicros();
        log.Fresh();
        std::vector<std::string> drawn;
        std::vector<int> rows;
        int64_t handed = 0;
        {
            std::lock_guard<std::mutex> guard(drawnMutex);
            drawn.swap(pendingLines);
            rows.swap(pendingRows);
            handed = pesHanded;
        }
        if (event.firstRow < 0) return;
        screens.Add(event.number, framebuffer.Memory(), event.firstRow, event.lastRow);
        lines += drawn.size();
        report.Add({at / 1000, event.number, event.firstRow, event.lastRow, ScreenWriter::PngName(event.number), drawn,
                    log.Offset(), handed, rows});
    });

    // The front end writes its files at the daemon's paths under the root,
    // so the backend is in place before it writes the first hand-off.
    SimBackend backend(root_, clock);
    backend.Attach(paths::kDemux, &demux);
    backend.Attach(paths::kFrameBuffer, &framebuffer);
    platform::Install(&backend);

    FrontEnd frontEnd(info, options_.aspect, options_.playback);
    frontEnd.Tune(service_);
    for (const SimOptions::Zap& zap : options_.zaps)
        frontEnd.Schedule({int64_t(zap.at * 1000), FrontEndEvent::Zap, zap.service});
    for (const SimOptions::Range& range : options_.disables) {
        frontEnd.Schedule({int64_t(range.from * 1000), FrontEndEvent::DisableOn, 0});
        frontEnd.Schedule({int64_t(range.to * 1000), FrontEndEvent::DisableOff, 0});
    }
    for (double at : options_.reloads) frontEnd.Schedule({int64_t(at * 1000), FrontEndEvent::Reload, 0});
    for (const SimOptions::Signal& s : options_.signals)
        frontEnd.Schedule({int64_t(s.at * 1000), FrontEndEvent::Signal, s.signal});
    // A menu going away erases its rectangle, and the menus still up are
    // painted again over what it shared with them; the screen is looked at
    // as the front end's own blit would show it.
    std::vector<bool> menusUp(options_.menus.size(), false);
    frontEnd.SetMenuPainter([&](int menu, bool up) {
        menusUp[size_t(menu)] = up;
        const SimOptions::Menu& m = options_.menus[size_t(menu)];
        if (!up) framebuffer.PaintRect(m.x, m.y, m.width, m.height, false);
        for (size_t i = 0; i < menusUp.size(); ++i) {
            const SimOptions::Menu& other = options_.menus[i];
            if (menusUp[i]) framebuffer.PaintRect(other.x, other.y, other.width, other.height, true);
        }
        framebuffer.Capture();
    });
    for (size_t i = 0; i < options_.menus.size(); ++i) {
        const SimOptions::Menu& m = options_.menus[i];
        frontEnd.Schedule({int64_t(m.from * 1000), FrontEndEvent::MenuOn, int(i)});
        frontEnd.Schedule({int64_t(m.to * 1000), FrontEndEvent::MenuOff, int(i)});
    }

    // The daemon's main thread is this one; it takes turns with the reader
    // thread, and the clock reports a stall on the simulator's own error
    // output, not in the daemon's log.
    clock.SetReportFd(log.SavedFd());
    // Without FBIO_BLIT nothing says when the screen changed: look at it
    // each time a daemon thread stops to wait, where its drawing is whole.
    if (options_.noBlit) clock.SetHandOverHook([&framebuffer] { framebuffer.Capture(); });
    clock.Enter("main thread");
    const auto realStart = std::chrono::steady_clock::now();
    auto lastProgress = realStart;
    int64_t finishedAt = -1;
    const long rssBefore = ResidentKiB();
    const double cpuBefore = CpuSeconds();
    backend.SetPollHook([&]() {
        int64_t now = streamMicros();
        frontEnd.Advance(now / 1000);
        bool unplugged = false;
        for (const SimOptions::Range& r : options_.demuxOutages)
            unplugged = unplugged || (now >= int64_t(r.from * 1e6) && now < int64_t(r.to * 1e6));
        if (unplugged == demux.Present()) demux.SetPresent(!unplugged);
        auto real = std::chrono::steady_clock::now();
        if (!options_.quiet && real - lastProgress >= std::chrono::seconds(2)) {
            lastProgress = real;
            printf("tekod-sim: %.1f s of stream replayed, %zu screen changes, %zu Teletext lines\n", now / 1e6,
                   report.Changes().size(), lines);
            fflush(stdout);
        }
        if (options_.duration > 0 && now >= int64_t(options_.duration * 1e6)) return false;
        // A daemon that never sets a filter never starts the replay: give it
        // the stream's length in time to do so, then end the run.
        if (!replay.Started() && clock.NowMicros() > replay.DurationMicros() + kGraceMicros) return false;
        if (!options_.loop && replay.Finished()) {
            if (finishedAt < 0) finishedAt = clock.NowMicros();
            if (clock.NowMicros() - finishedAt >= kGraceMicros) return false;
        }
        return true;
    });

    {
        gTEKOApp app;
        app.presenter.teletext.lineDrawn = [&](int rowIndex, const std::string& text) {
            std::lock_guard<std::mutex> guard(drawnMutex);
            pendingLines.push_back(text);
            pendingRows.push_back(rowIndex + 1);  // the row index counts from row 1
        };
        // The status line as row 0.
        app.presenter.status.drawn = [&](const std::string& text) {
            std::lock_guard<std::mutex> guard(drawnMutex);
            pendingLines.push_back(text);
            pendingRows.push_back(0);
        };
        app.pesFilter.packetHanded = [&](const PESPacket& packet) {
            report.AddPes({streamMicros() / 1000, packet.size > 3 ? packet.data[3] : -1, packet.size});
            std::lock_guard<std::mutex> guard(drawnMutex);
            ++pesHanded;
        };
        app.run();
    }
    clock.Leave();
    platform::Install(nullptr);
    const double realSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
    const double streamSeconds = streamMicros() / 1e6;
    replay.Stop();
    screens.Finish();
    if (screens.Failures() > 0)
        fprintf(stderr, "tekod-sim: %d screens could not be written to %s/screens\n", screens.Failures(),
                options_.out.c_str());

    report.WriteIndex("TEKO on " + Basename(options_.ts) + ", " + std::to_string(options_.width) + "x" +
                      std::to_string(options_.height) + " screen");
    printf("tekod-sim: done: %.1f s of stream in %.1f s (%.1fx), %d blits, %zu screen changes, %zu Teletext lines\n",
           streamSeconds, realSeconds, realSeconds > 0 ? streamSeconds / realSeconds : 0.0, framebuffer.Blits(),
           report.Changes().size(), lines);
    if (streamSeconds > 0) {
        // The screen files are the simulator's work, not the daemon's.
        const double cpu = CpuSeconds() - cpuBefore - screens.CpuSeconds();
        printf("tekod-sim: resident memory %ld KiB (%+ld KiB while the daemon ran, peak %ld KiB), CPU %.2f s per minute "
               "of stream (%.2f s more writing the screens)\n",
               ResidentKiB(), ResidentKiB() - rssBefore, ResidentKiB("VmHWM:"), cpu * 60.0 / streamSeconds,
               screens.CpuSeconds() * 60.0 / streamSeconds);
    }
    printf("tekod-sim: screens in %s/screens, index page %s/index.html, log %s/log.txt\n", options_.out.c_str(),
           options_.out.c_str(), options_.out.c_str());
    return 0;
}
