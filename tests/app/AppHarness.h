// The whole daemon on a box without hardware: the application object runs
// its unchanged main loop on the simulator's backend (simulated time, the
// emulated demultiplexer replaying a builder-made multiplex, the emulated
// framebuffer) and is ended through the backend's poll hook. The log is
// captured and cut into one piece per poll, so a test can say in which pass
// of the main loop something happened.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedFrameBuffer.h"
#include "app/gTEKOApp.h"
#include "support/DemuxEnv.h"
#include "support/TextCount.h"
#include "support/TsBuilder.h"

namespace apptest {

// The multiplex of the tests: PAT, and for each service a PMT on
// 0x100 + service id with a PCR on 0x180 + service id; DVB subtitles
// (page 1, a solid 20 x 2 region at (30, 500) every half second, PES
// without PTS) on
// 0x200 + service id and Teletext subtitles (page 888, a boxed row 22 every
// half second, PES without PTS) on 0x300 + service id, each announced with
// the entries given. A service with no entries has no subtitle streams.
struct Service {
    int id = 1;
    std::vector<ts::SubtitlingEntry> dvb;
    std::vector<ts::TeletextEntry> txt;
};
constexpr int PmtPid(int service) { return 0x100 + service; }
constexpr int DvbPid(int service) { return 0x200 + service; }
constexpr int TxtPid(int service) { return 0x300 + service; }
// Two seconds of stream, to be replayed in a loop.
ts::Bytes BuildMux(const std::vector<Service>& services);

// One DVB service (PMT, PCR and subtitle PIDs as above) whose subtitle,
// with a page time-out of `timeout` seconds, is sent once every `period`
// seconds, two seconds into it (after the tables); in between, padding PES on the subtitle PID every
// 100 ms keep the reader passing, as the other streams of a PID do on air.
// `period` seconds of stream, to be replayed in a loop.
ts::Bytes BuildTimedDvbMux(int service, int timeout, int period);

// One Teletext subtitle page entry (type 2, page 888) and one DVB entry.
ts::TeletextEntry Txt(const std::string& language, int type = 2);
ts::SubtitlingEntry Dvb(const std::string& language);

class AppHarness {
public:
    explicit AppHarness(int bitsPerPixel = 32);
    ~AppHarness();

    void Config(const std::string& text) const;
    void Channels(const std::string& text) const;
    void HandOff(int service, int aspect = 2, int seekable = 0) const;
    void Mux(const std::vector<Service>& services);
    // Any multiplex, replayed in a loop.
    void Mux(const ts::Bytes& multiplex);

    // Long runs: the log goes to /dev/null instead of being kept, and no
    // blit is recorded.
    bool quiet = false;

    // Constructs the application object and runs it. `onPoll(n)` is called
    // at the n-th poll (1-based, on the main thread, before that pass runs);
    // the loop ends when it returns false or after `maxPolls` polls.
    void Run(const std::function<bool(int)>& onPoll, int maxPolls);

    // The log before the first poll (index 0) and of each pass (index n).
    const std::string& Pass(int n) const;
    int Passes() const { return int(passes_.size()) - 1; }
    // The first pass whose log holds `text`, or -1.
    int FirstPassWith(const std::string& text) const;
    // The passes (1-based) whose log holds `text`.
    std::vector<int> PassesWith(const std::string& text) const;
    int Count(const std::string& text) const;

    // The status band: rows 15 to 54.
    std::vector<uint32_t> Band() const;
    // The band as the daemon draws `text` there, rendered beforehand with
    // the same font on a screen of this depth.
    std::vector<uint32_t> ExpectedBand(const std::string& text);
    // Marks two corners of the band (the pixels of rows 15 and 54 that any
    // band drawing overwrites) and tells whether the marks are still there.
    void MarkBand();
    bool BandMarked() const;
    // Screen pixels with any alpha (ink) in rows [top, bottom).
    int Ink(int top, int bottom) const;
    // The default font as a file of its own under the root (instead of a
    // link to the system's font), so that a test may break it.
    void OwnFont() const;

    // Blits made on the main thread (the status line, the clients' clears
    // at a stop; subtitles are drawn on the reader thread): the pass of
    // each, and the band as the last of them left it.
    std::vector<int> mainBlitPasses;
    std::vector<uint32_t> lastMainBand;
    // Blits of the reader thread (subtitle drawing) that changed the
    // screen, and those of them that left ink in the rows they changed.
    std::atomic<int> readerBlits{0};
    std::atomic<int> readerInkBlits{0};
    // When they happened (SimClock µs) and whether they left ink; read it
    // once Run has returned.
    struct ReaderBlit {
        int64_t micros;
        bool ink;
    };
    std::vector<ReaderBlit> readerBlitTimes;

    DemuxEnv env;
    EmulatedFrameBuffer fb;
    std::unique_ptr<gTEKOApp> app;
    std::string log;

private:
    std::vector<std::string> passes_;
    std::thread::id mainThread_;
};

using ::CountOf;

}  // namespace apptest
