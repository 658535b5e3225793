#include "app/AppHarness.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "display/FrameBufferDevice.h"
#include "platform/Paths.h"
#include "support/DvbSubBuilder.h"
#include "support/TeletextBuilder.h"

namespace apptest {

namespace {

const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char kPassMark[] = "@@pass ";
constexpr int64_t kFirstPcr = 900000;
constexpr int64_t kStep = 9000;  // 100 ms, at a PCR
constexpr int kSteps = 20;
// The timed multiplex's subtitle comes two seconds into each period, so
// that a daemon that starts with the replay has read its tables by then.
constexpr int kTimedSubtitleStep = 20;

ts::Bytes DvbDisplaySet(int64_t pts, int timeout = 5) {
    using namespace dvbsub;
    Region region;
    region.width = 20;
    region.height = 2;
    region.objects = {{1, 0, 0}};
    return DisplaySetPes(Concat({PageComposition(1, timeout, 0, 1, {{0, 30, 500}}), RegionComposition(1, region),
                                 ObjectData(1, 1, PixelData().Line4({{20, 1}}).Data(), {}),
                                 EndOfDisplaySet(1)}),
                         true, pts);
}

// Header of page 888 and its row 22; the next header completes the page.
ts::Bytes TeletextPage() {
    ttx::Header header;
    return ttx::Pes({ttx::DataUnit(ttx::HeaderPacket(header)),
                     ttx::DataUnit(ttx::RowPacket(8, 22, ttx::SubtitleRow("Hello")))});
}

ts::Bytes ServicePmt(const Service& s) {
    std::vector<ts::EsEntry> streams = {{0x02, 0x400 + s.id, {}}};
    if (!s.dvb.empty()) streams.push_back({0x06, DvbPid(s.id), ts::SubtitlingDescriptor(s.dvb)});
    if (!s.txt.empty()) streams.push_back({0x06, TxtPid(s.id), ts::TeletextDescriptor(s.txt)});
    return ts::Pmt(uint16_t(s.id), 0x180 + s.id, streams);
}

}  // namespace

ts::TeletextEntry Txt(const std::string& language, int type) { return {language, type, 0, 0x88}; }
ts::SubtitlingEntry Dvb(const std::string& language) { return {language, 0x10, 1, 1}; }

ts::Bytes BuildMux(const std::vector<Service>& services) {
    std::vector<ts::PatEntry> programs;
    for (const Service& s : services) programs.push_back({s.id, PmtPid(s.id)});
    const ts::Bytes pat = ts::Pat(1, programs);
    ts::TsBuilder b;
    for (int step = 0; step < kSteps; ++step) {
        const int64_t pcr = kFirstPcr + step * kStep;
        for (const Service& s : services) b.AddPcr(0x180 + s.id, pcr);
        b.AddSection(0, pat);
        for (const Service& s : services) b.AddSection(PmtPid(s.id), ServicePmt(s));
        if (step % 5 != 0) continue;
        for (const Service& s : services) {
            if (!s.dvb.empty()) b.AddPes(DvbPid(s.id), DvbDisplaySet(-1));
            if (!s.txt.empty()) b.AddPes(TxtPid(s.id), TeletextPage());
        }
    }
    return b.Data();
}

ts::Bytes BuildTimedDvbMux(int service, int timeout, int period) {
    Service s;
    s.id = service;
    s.dvb = {Dvb("swe")};
    const ts::Bytes pat = ts::Pat(1, {{s.id, PmtPid(s.id)}});
    const ts::Bytes padding = ts::Pes(0xBE, ts::Bytes(20, 0xFF));
    ts::TsBuilder b;
    for (int step = 0; step < period * 10; ++step) {
        b.AddPcr(0x180 + s.id, kFirstPcr + step * kStep);
        b.AddSection(0, pat);
        b.AddSection(PmtPid(s.id), ServicePmt(s));
        b.AddPes(DvbPid(s.id), step == kTimedSubtitleStep ? DvbDisplaySet(-1, timeout) : padding);
    }
    return b.Data();
}

AppHarness::AppHarness(int bitsPerPixel)
    : fb([bitsPerPixel] {
          FrameBufferConfig c;
          c.bitsPerPixel = bitsPerPixel;
          return c;
      }()) {
    env.backend.Attach(paths::kFrameBuffer, &fb);
    mainThread_ = std::this_thread::get_id();
    // Called inside the display's UnLock, so the band is read as drawn.
    fb.SetBlitObserver([this](const EmulatedFrameBuffer::BlitEvent& e) {
        if (quiet) return;
        if (std::this_thread::get_id() != mainThread_) {
            if (e.firstRow >= 0) {
                ++readerBlits;
                const bool ink = Ink(e.firstRow, e.lastRow + 1) > 0;
                if (ink) ++readerInkBlits;
                readerBlitTimes.push_back({env.clock.NowMicros(), ink});
            }
            return;
        }
        mainBlitPasses.push_back(env.backend.PollCount());
        lastMainBand = Band();
    });
    EXPECT_EQ(symlink(kFont, env.root.At(paths::kDefaultFont).c_str()), 0) << kFont;
    env.root.Copy(paths::kTranslation, TEKO_SOURCE_DIR "/data/TEKO.translation");
}

AppHarness::~AppHarness() {
    app.reset();
    env.replay.Stop();
}

void AppHarness::Config(const std::string& text) const { env.root.Write(paths::kConfig, text); }
void AppHarness::Channels(const std::string& text) const { env.root.Write(paths::kChannels, text); }

void AppHarness::HandOff(int service, int aspect, int seekable) const {
    std::ostringstream s;
    s << service << "\n" << 0x400 + service << "\n" << 0x500 + service << "\n" << TxtPid(service) << "\n"
      << aspect << "\n" << seekable << "\n" << PmtPid(service) << "\n";
    env.root.Write(paths::kHandOff, s.str());
}

void AppHarness::Mux(const std::vector<Service>& services) { Mux(BuildMux(services)); }

void AppHarness::Mux(const ts::Bytes& multiplex) {
    ASSERT_TRUE(env.LoadBytes(multiplex));
    env.replay.SetLoop(true);
}

void AppHarness::Run(const std::function<bool(int)>& onPoll, int maxPolls) {
    int savedStderr = -1;
    if (quiet) {
        fflush(stderr);
        savedStderr = dup(2);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    } else {
        testing::internal::CaptureStderr();
    }
    app = std::make_unique<gTEKOApp>();
    env.backend.SetPollHook([&] {
        const int n = env.backend.PollCount();
        fprintf(stderr, "%s%d\n", kPassMark, n);
        return n <= maxPolls && onPoll(n);
    });
    app->run();
    env.backend.SetPollHook(nullptr);
    if (quiet) {
        dup2(savedStderr, 2);
        close(savedStderr);
        log.clear();
    } else {
        log = testing::internal::GetCapturedStderr();
    }
    passes_.clear();
    size_t start = 0;
    for (;;) {
        const size_t mark = log.find(kPassMark, start);
        passes_.push_back(log.substr(start, mark == std::string::npos ? std::string::npos : mark - start));
        if (mark == std::string::npos) break;
        start = log.find('\n', mark);
        start = start == std::string::npos ? log.size() : start + 1;
    }
}

const std::string& AppHarness::Pass(int n) const {
    static const std::string none;
    return n >= 0 && n < int(passes_.size()) ? passes_[size_t(n)] : none;
}

int AppHarness::FirstPassWith(const std::string& text) const {
    for (size_t n = 0; n < passes_.size(); ++n)
        if (passes_[n].find(text) != std::string::npos) return int(n);
    return -1;
}

std::vector<int> AppHarness::PassesWith(const std::string& text) const {
    std::vector<int> out;
    for (int n = 1; n <= Passes(); ++n)
        if (Pass(n).find(text) != std::string::npos) out.push_back(n);
    return out;
}

void AppHarness::OwnFont() const {
    env.root.Remove(paths::kDefaultFont);
    env.root.Copy(paths::kDefaultFont, kFont);
}

int AppHarness::Count(const std::string& text) const { return CountOf(log, text); }

std::vector<uint32_t> AppHarness::Band() const {
    std::vector<uint32_t> band;
    for (int y = 15; y <= 54; ++y)
        for (int x = 0; x < 720; ++x) band.push_back(fb.Argb(x, y));
    return band;
}

std::vector<uint32_t> AppHarness::ExpectedBand(const std::string& text) {
    FrameBufferConfig config;
    config.bitsPerPixel = fb.BitsPerPixel();
    EmulatedFrameBuffer reference(config);
    env.backend.Attach(paths::kFrameBuffer, &reference);
    std::vector<uint32_t> band;
    testing::internal::CaptureStderr();
    {
        FrameBufferDevice device;
        EXPECT_EQ(device.Create(paths::kDefaultFont), 0);
        device.Lock();
        device.DrawFilledRect(0, 15, 720, 40, 0);
        // White: opaque white, or the default text colour's palette index.
        device.DrawText(text, 0, 40, 720, 1, 20, config.bitsPerPixel == 32 ? -1 : 31);
        device.UnLock();
        for (int y = 15; y <= 54; ++y)
            for (int x = 0; x < 720; ++x) band.push_back(reference.Argb(x, y));
        device.Destroy();
    }
    testing::internal::GetCapturedStderr();
    env.backend.Attach(paths::kFrameBuffer, &fb);
    return band;
}

namespace {
uint8_t* PixelAt(EmulatedFrameBuffer& fb, int x, int y) {
    const int bytes = fb.BitsPerPixel() == 32 ? 4 : 1;
    const int line = fb.LineLength() > 0 ? fb.LineLength() : 720 * bytes;
    return fb.Memory() + size_t(y) * size_t(line) + size_t(x) * size_t(bytes);
}
constexpr uint8_t kMark[4] = {0x5A, 0xA5, 0x5A, 0xA5};
}  // namespace

void AppHarness::MarkBand() {
    const size_t bytes = fb.BitsPerPixel() == 32 ? 4 : 1;
    memcpy(PixelAt(fb, 0, 15), kMark, bytes);
    memcpy(PixelAt(fb, 719, 54), kMark, bytes);
}

bool AppHarness::BandMarked() const {
    auto& screen = const_cast<EmulatedFrameBuffer&>(fb);
    const size_t bytes = fb.BitsPerPixel() == 32 ? 4 : 1;
    return memcmp(PixelAt(screen, 0, 15), kMark, bytes) == 0 && memcmp(PixelAt(screen, 719, 54), kMark, bytes) == 0;
}

int AppHarness::Ink(int top, int bottom) const {
    int n = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < 720; ++x) n += (fb.Argb(x, y) >> 24) != 0;
    return n;
}

}  // namespace apptest
