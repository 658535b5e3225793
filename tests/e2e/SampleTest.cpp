// Every stream of the table, replayed by tekod-sim at 32 and 8 bits per
// pixel: the subtitles a viewer sees, when they appear against the arrival
// of their packets in the replay, and what is drawn against the reference
// decoders (FFmpeg for DVB subtitles, libzvbi for Teletext). The demo and
// one DVB sample are played on an HD screen too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "E2eTest.h"
#include "platform/Paths.h"
#include "support/DvbReference.h"
#include "support/ZvbiReference.h"

namespace e2e {
namespace {

using dvbref::Screen;

struct SimRunOf {
    int width = dvbref::kWidth, height = dvbref::kHeight;  // the screen's
    std::string label;  // the stream's name, and the screen's size when not the standard one
    Played played;
    SimResult sim;
    std::vector<Screen> screens;  // after each change
    std::vector<int> ink;
    size_t firstPes = 0;  // the first PES that reaches the daemon's filter
    int64_t latest = 0;   // the latest a subtitle came after its time (ms)
};

std::string Hex(int v) {
    char b[16];
    snprintf(b, sizeof b, "%x", v);
    return b;
}

// ---- DVB subtitles -------------------------------------------------------

// tekod-sim lists each packet the daemon's filter hands to the decoder, and
// each change says how many had been handed before its blit: that tells
// which packet it drew. The client receives every 0xBD packet from its
// start to the end of the stream, so the count tells which was its first.
// The index in played.pes of each packet handed, in order.
std::vector<size_t> ReceivedPes(const SimRunOf& run) {
    std::vector<size_t> bd;
    for (size_t k = 0; k < run.played.pes.size(); ++k)
        if (run.played.pes[k].bytes[3] == 0xBD) bd.push_back(k);
    const std::vector<Handed>& handed = run.sim.handed;
    EXPECT_LE(handed.size(), bd.size()) << "the client received more packets than the stream carries";
    const size_t first = bd.size() - std::min(bd.size(), handed.size());
    std::vector<size_t> received;
    for (size_t n = 0; n < handed.size() && first + n < bd.size(); ++n) {
        const Pes& played = run.played.pes[bd[first + n]];
        EXPECT_EQ(handed[n].streamId, 0xBD) << "packet " << n << " handed";
        EXPECT_EQ(handed[n].bytes, played.bytes.size()) << "packet " << n << " handed";
        EXPECT_GE(handed[n].ms, played.lastUs / 1000) << "packet " << n << " handed before it arrived";
        received.push_back(bd[first + n]);
    }
    return received;
}

bool UsesDefaultColours(const std::vector<Pes>& pes, size_t first, size_t k);

// On a screen of another size than the page's display the daemon averages
// display pixels by area (32 bits) or takes the nearest (8 bits); FFmpeg's
// picture is scaled by area for the comparison. At 32 bits every pixel's
// alpha agrees within kAlphaSlack (the daemon's sums are whole numbers,
// the reference's floating point) and, where both are at least half
// opaque, its colour within the conversion's tolerance; in default
// colours, which differ in alpha too, only whether a pixel shows
// anything is compared. At 8 bits a pixel that only opaque display
// pixels cover is drawn, and one that only transparent ones cover is left
// alone (or holds a low CLUT index, as on the standard screen). Empty when
// they agree, else the first difference; the largest differences grow.
constexpr int kAlphaSlack = 2;
std::string ScaledDiff(const Screen& ours, const Screen& reference, int bpp, bool defaults, int width,
                       int& maxAlpha, int& maxColour) {
    if (ours.size() != reference.size()) return "screen sizes differ";
    for (size_t at = 0; at < ours.size(); ++at) {
        const uint32_t o = ours[at], r = reference[at];
        std::string what;
        if (bpp != 32) {
            if ((r >> 24) == 255 && o == 0) what = "missing";
            if ((r >> 24) == 0 && o != 0 && o != 0xF0 && o >= 16) what = "extra";
        } else {
            const int alpha = std::abs(int(o >> 24) - int(r >> 24));
            if (!defaults) maxAlpha = std::max(maxAlpha, alpha);
            if (defaults ? ((o >> 24) == 0) != ((r >> 24) == 0) : alpha > kAlphaSlack)
                what = "alpha " + std::to_string(o >> 24) + " != " + std::to_string(r >> 24);
            for (int shift = 0; !defaults && shift < 24 && (o >> 24) >= 128 && (r >> 24) >= 128; shift += 8) {
                const int d = std::abs(int((o >> shift) & 0xFF) - int((r >> shift) & 0xFF));
                maxColour = std::max(maxColour, d);
                if (d > dvbref::kColourTolerance) what = "colour differs by " + std::to_string(d);
            }
        }
        if (!what.empty()) return std::to_string(at % width) + "," + std::to_string(at / width) + ": " + what;
    }
    return std::string();
}

void CheckDvb(const StreamCase& c, SimRunOf& run, int bpp) {
    const auto& pes = run.played.pes;
    const std::vector<size_t> received = ReceivedPes(run);
    // Decoding stops for the last time when the run ends.
    const int64_t wayOut = int64_t(run.sim.log.rfind("TEKO: Stop PES decoding...\n"));
    run.firstPes = received.empty() ? pes.size() : received.front();
    // The screen after each packet: the last change it made, else as before.
    std::vector<int> lastOwned(pes.size(), -1);
    for (size_t j = 0; j < run.sim.changes.size(); ++j) {
        const Change& change = run.sim.changes[j];
        if (change.logBytes > wayOut) continue;  // the daemon's way out
        const size_t n = std::min(change.pes, received.size());
        ASSERT_GT(n, 0u) << "change at " << change.ms << " ms comes before any subtitle packet";
        const size_t k = received[n - 1];
        lastOwned[k] = int(j);
        if (run.ink[j] == 0) continue;  // clears, and time-outs that fall due at later data
        const int64_t late = change.ms - pes[k].dueUs / 1000;
        run.latest = std::max(run.latest, late);
        EXPECT_GE(late, 0) << "drawn at " << change.ms << " ms, before its time " << pes[k].dueUs / 1000 << " ms";
        EXPECT_LE(late, kAppearMs) << "drawn " << late << " ms after its time " << pes[k].dueUs / 1000
                                   << " ms (arrived at " << pes[k].lastUs / 1000 << " ms)";
    }
    std::vector<int> screenAfter(pes.size(), -1);
    int current = -1, shown = 0;
    for (size_t k = 0; k < pes.size(); ++k) {
        if (lastOwned[k] >= 0) {
            current = lastOwned[k];
            shown += run.ink[size_t(current)] > 0;
        }
        screenAfter[k] = current;
    }
    // A display set the daemon missed began to arrive before decoding could
    // have started.
    for (size_t k = 0; k < run.firstPes && k < pes.size(); ++k) {
        if (pes[k].bytes[3] != 0xBD) continue;
        EXPECT_LE(pes[k].firstUs / 1000, std::max<int64_t>(run.played.pmtUs / 1000, 0) + kStartMs)
            << "display set " << k << " arrived after decoding should have started, but was not decoded";
    }
    if (!c.reference) {
        // All of them, but those whose packets came before decoding started.
        int before = 0;
        for (size_t k = 0; k < run.firstPes && k < pes.size(); ++k) before += pes[k].bytes[3] == 0xBD;
        EXPECT_LE(shown, c.subtitles) << "display sets after which a subtitle showed";
        EXPECT_GE(shown + before, c.subtitles) << "display sets after which a subtitle showed";
        printf("[ e2e ] %s %d bpp: %d subtitles shown\n", run.label.c_str(), bpp, shown);
        return;
    }

    dvbref::Options onScreen;
    onScreen.screenWidth = run.width, onScreen.screenHeight = run.height;
    const bool scaled = run.width != dvbref::kWidth || run.height != dvbref::kHeight;
    dvbref::FfmpegDecoder ffmpeg(onScreen);
    ASSERT_TRUE(ffmpeg.Ok());
    const Screen empty(size_t(run.width) * run.height, 0);
    int outputs = 0, matched = 0, maxDiff = 0, maxAlpha = 0, defaults = 0;
    std::string firstMismatch;
    // Subtitles: display sets that show something other than the one before.
    int inStream = 0, afterStart = 0;
    {
        dvbref::FfmpegDecoder all;
        Screen previous(size_t(dvbref::kWidth) * dvbref::kHeight, 0), screen;
        for (size_t k = 0; k < pes.size(); ++k) {
            if (!all.Decode(pes[k].bytes.data(), pes[k].bytes.size(), screen)) continue;
            if (dvbref::Ink(screen, 32) > 0 && screen != previous) {
                ++inStream;
                afterStart += k >= run.firstPes;
            }
            previous = screen;
        }
    }
    EXPECT_EQ(inStream, c.subtitles) << "subtitles FFmpeg finds in the whole stream";
    EXPECT_EQ(shown, afterStart) << "display sets after which a subtitle showed";
    for (size_t k = run.firstPes; k < pes.size(); ++k) {
        Screen reference;
        if (!ffmpeg.Decode(pes[k].bytes.data(), pes[k].bytes.size(), reference)) continue;
        ++outputs;
        const Screen& ours = screenAfter[k] >= 0 ? run.screens[size_t(screenAfter[k])] : empty;
        int setDiff = 0;
        std::string diff;
        if (scaled) {
            const bool own = UsesDefaultColours(pes, run.firstPes, k);
            defaults += own;
            diff = ScaledDiff(ours, reference, bpp, own, run.width, maxAlpha, maxDiff);
        } else {
            diff = dvbref::Compare(ours, reference, bpp, &setDiff);
            if (diff.empty()) maxDiff = std::max(maxDiff, setDiff);
            if (!diff.empty() && bpp == 32 && UsesDefaultColours(pes, run.firstPes, k)) {
                ++defaults;
                diff = dvbref::Compare(dvbref::Visible(ours), dvbref::Visible(reference), bpp, nullptr);
            }
        }
        matched += diff.empty();
        if (!diff.empty() && firstMismatch.empty() && getenv("E2E_KEEP")) {
            FILE* f = fopen((run.sim.dir + "/reference-" + std::to_string(k) + ".raw").c_str(), "wb");
            if (f) fwrite(reference.data(), 4, reference.size(), f), fclose(f);
        }
        if (!diff.empty() && firstMismatch.empty())
            firstMismatch = "PES " + std::to_string(k) + " at " + std::to_string(pes[k].lastUs / 1000) + " ms: " + diff;
    }
    std::string how = scaled ? " scaled onto " + std::to_string(run.width) + "x" + std::to_string(run.height) : "";
    if (bpp == 32)
        how += " (" + std::to_string(defaults) + " in default colours), largest colour difference " +
               std::to_string(maxDiff) + (scaled ? ", alpha difference " + std::to_string(maxAlpha) : "");
    printf("[ e2e ] %s %d bpp: %d of %d subtitles shown (%d after decoding started), %d of %d FFmpeg display sets "
           "matched%s\n",
           run.label.c_str(), bpp, shown, inStream, afterStart, matched, outputs, how.c_str());
    EXPECT_GT(outputs, 0);
    EXPECT_EQ(matched, outputs) << firstMismatch;
}

// True when a region that the display set in `pes[k]` places uses a CLUT
// that no packet from `first` to `k` defined (a capture that starts
// mid-stream): both decoders then fall back on default colours, which
// differ, so only what is visible is compared.
bool UsesDefaultColours(const std::vector<Pes>& pes, size_t first, size_t k) {
    std::vector<bool> defined(256, false);
    std::vector<int> used;
    for (size_t n = first; n <= k; ++n) {
        const std::vector<uint8_t>& p = pes[n].bytes;
        if (p.size() < 9 || p[3] != 0xBD) continue;
        // EN 300 743 §7.2: sync byte, type, page id, length, body.
        for (size_t at = 9 + size_t(p[8]) + 2; at + 6 <= p.size() && p[at] == 0x0F;) {
            const size_t length = size_t(p[at + 4]) << 8 | p[at + 5];
            const uint8_t* body = &p[at + 6];
            if (at + 6 + length > p.size()) break;
            if (p[at + 1] == 0x12 && length >= 1) defined[body[0]] = true;         // CLUT definition
            if (p[at + 1] == 0x11 && length >= 8 && n == k) used.push_back(body[7]);  // region's CLUT_id
            at += 6 + length;
        }
    }
    for (int clut : used)
        if (!defined[size_t(clut)]) return true;
    return false;
}

// ---- Teletext ------------------------------------------------------------

struct OurPage {
    int64_t ms = -1;  // when its first line was drawn
    std::vector<ttxref::Line> lines;
};

// The pages drawn, from the timeline: each change lists the lines it drew
// with their rows, as the viewer reads them. A page ends at a change that
// draws no line (a clear) or at a line no lower than the page's last.
std::vector<OurPage> OurPages(const SimRunOf& run) {
    std::vector<OurPage> pages;
    bool open = false;
    for (const Change& change : run.sim.changes) {
        if (change.text.empty()) {
            open = false;
            continue;
        }
        std::vector<std::string> texts;
        for (size_t from = 0;;) {
            const size_t bar = change.text.find(" | ", from);
            texts.push_back(change.text.substr(from, bar == std::string::npos ? bar : bar - from));
            if (bar == std::string::npos) break;
            from = bar + 3;
        }
        EXPECT_EQ(texts.size(), change.rows.size()) << "change at " << change.ms << " ms";
        for (size_t i = 0; i < texts.size() && i < change.rows.size(); ++i) {
            const int row = change.rows[i];
            if (!open || row <= pages.back().lines.back().row) {
                pages.push_back(OurPage());
                pages.back().ms = change.ms;
                open = true;
            }
            pages.back().lines.push_back({row, ttxref::Normalise(texts[i])});
        }
    }
    return pages;
}

std::string Describe(const std::vector<ttxref::Line>& lines) {
    std::string s;
    for (const auto& l : lines) s += "  " + std::to_string(l.row) + ": " + l.text + "\n";
    return s;
}

void CheckTeletext(const StreamCase& c, SimRunOf& run, int bpp) {
    // The daemon's filter starts once it has read the service's PMT.
    while (run.firstPes < run.played.pes.size() && run.played.pes[run.firstPes].firstUs <= run.played.pmtUs)
        ++run.firstPes;
    const std::vector<OurPage> ours = OurPages(run);
    // Erase headers clear the drawn band before the next page; without the
    // erase bit a page is drawn over the last one.
    for (size_t i = 1; i < ours.size(); ++i) {
        bool cleared = false;
        for (size_t j = 0; j < run.sim.changes.size(); ++j)
            if (run.sim.changes[j].ms >= ours[i - 1].ms && run.sim.changes[j].ms < ours[i].ms && run.ink[j] == 0)
                cleared = true;
        EXPECT_EQ(cleared, c.erase) << "between the pages drawn at " << ours[i - 1].ms << " and " << ours[i].ms << " ms";
    }
    if (!c.reference) {
        EXPECT_EQ(int(ours.size()), c.subtitles) << "pages drawn";
        for (size_t j = 0; j < run.ink.size(); ++j) EXPECT_EQ(run.ink[j], 0) << "change " << j;
        return;
    }
    if (!ttxref::Available()) {
        printf("[ e2e ] %s: libzvbi is not installed, pages not compared\n", run.label.c_str());
        return;
    }
    auto pagesFrom = [&](size_t first) {
        std::vector<std::vector<uint8_t>> packets;
        for (size_t k = first; k < run.played.pes.size(); ++k) packets.push_back(run.played.pes[k].bytes);
        return ttxref::ZvbiPages(packets, c.page);
    };
    EXPECT_EQ(int(pagesFrom(0).size()), c.subtitles) << "pages libzvbi finds in the whole stream";
    // The reader's first packet is taken to be the first one from which
    // libzvbi finds the pages drawn, at most kStartMs after the PMT.
    const size_t estimate = run.firstPes;
    std::vector<ttxref::Page> theirs = pagesFrom(estimate);
    for (size_t k = estimate + 1; k < run.played.pes.size() &&
                                  run.played.pes[k].firstUs <= std::max<int64_t>(run.played.pmtUs, 0) + kStartMs * 1000;
         ++k) {
        bool same = theirs.size() == ours.size();
        for (size_t i = 0; same && i < ours.size(); ++i) same = ours[i].lines == theirs[i].lines;
        if (same) break;
        std::vector<ttxref::Page> later = pagesFrom(k);
        if (later.size() == ours.size()) {
            bool match = true;
            for (size_t i = 0; match && i < ours.size(); ++i) match = ours[i].lines == later[i].lines;
            if (match) {
                theirs = later;
                run.firstPes = k;
                break;
            }
        }
    }
    int matched = 0;
    for (size_t i = 0; i < std::max(ours.size(), theirs.size()); ++i) {
        const std::vector<ttxref::Line> none;
        const auto& a = i < ours.size() ? ours[i].lines : none;
        const auto& b = i < theirs.size() ? theirs[i].lines : none;
        EXPECT_EQ(a, b) << "page #" << i << "\nours:\n" << Describe(a) << "libzvbi:\n" << Describe(b);
        matched += a == b;
        if (i < ours.size() && i < theirs.size()) {
            // libzvbi completes a page a few packets after the header that
            // completes it for the daemon, so this bounds how late the page
            // came, not how early.
            const int64_t due = run.played.pes[run.firstPes + theirs[i].pes].dueUs / 1000;
            EXPECT_LE(ours[i].ms - due, kAppearMs) << "page #" << i << " drawn late";
            run.latest = std::max(run.latest, ours[i].ms - due);
        }
    }
    printf("[ e2e ] %s %d bpp: %zu of %d pages drawn, %d of %zu libzvbi pages since decoding started matched\n",
           run.label.c_str(), bpp, ours.size(), c.subtitles, matched, theirs.size());
}

// ---- The table -----------------------------------------------------------

// A stream of the table, the screen's depth and its size.
struct Screening {
    size_t stream;
    int bpp;
    int width, height;
};

// Every stream on the standard screen; on a 1280 x 720 one the demo's two
// services and the shared sample whose DVB colours are all its own (it
// skips where the samples are not).
std::vector<Screening> Screenings() {
    std::vector<Screening> all;
    for (size_t k = 0; k < Cases().size(); ++k)
        for (int bpp : {32, 8}) all.push_back({k, bpp, dvbref::kWidth, dvbref::kHeight});
    for (const char* hd : {"demo_dvb", "demo_teletext", "pes_uk_colours"})
        for (size_t k = 0; k < Cases().size(); ++k)
            if (std::string(Cases()[k].name) == hd)
                for (int bpp : {32, 8}) all.push_back({k, bpp, 1280, 720});
    return all;
}

class SampleRun : public ::testing::TestWithParam<Screening> {};

TEST_P(SampleRun, ShowsTheReferenceSubtitlesWhenTheirPacketsArrive) {
    const StreamCase& c = Cases()[GetParam().stream];
    const int bpp = GetParam().bpp;
    if (SourcePath(c).empty()) GTEST_SKIP() << c.file << " is not in the samples";
    TempDir tmp;
    SimRunOf run;
    run.width = GetParam().width, run.height = GetParam().height;
    std::string error;
    ASSERT_TRUE(Prepare(c, tmp.Path(), run.played, error)) << error;
    run.label = c.name;
    if (run.width != dvbref::kWidth || run.height != dvbref::kHeight)
        run.label += " " + std::to_string(run.width) + "x" + std::to_string(run.height);
    const std::string out = tmp.Path() + "/out";
    std::vector<std::string> args = RunArgs(run.played.path, out, WriteConfig(tmp.Path(), c.language), c.service, bpp);
    args.insert(args.end(), {"--size", std::to_string(run.width) + "x" + std::to_string(run.height)});
    if (c.seconds > 0) {
        args.insert(args.end(), {"--duration", std::to_string(c.seconds)});
        run.played.durationUs = int64_t(c.seconds) * 1000000;
    }
    run.sim = RunSim(args, out);
    ASSERT_EQ(run.sim.status, 0) << run.sim.err;
    // What tekod-sim measured: replay speed, resident memory, CPU.
    std::istringstream said(run.sim.out);
    for (std::string line; std::getline(said, line);)
        if (line.rfind("tekod-sim: done", 0) == 0 || line.rfind("tekod-sim: resident", 0) == 0)
            printf("[ e2e ] %s %d bpp: %s\n", run.label.c_str(), bpp, line.c_str());
    for (const Change& change : run.sim.changes) {
        run.screens.push_back(ReadScreen(out, change, bpp, run.width, run.height));
        ASSERT_FALSE(run.screens.back().empty()) << change.png;
        run.ink.push_back(dvbref::Ink(run.screens.back(), bpp));
    }
    if (getenv("E2E_DEBUG")) {
        for (size_t k = 0; k < run.played.pes.size(); ++k)
            printf("PES %zu first %lld last %lld size %zu id %x\n", k, (long long)run.played.pes[k].firstUs / 1000,
                   (long long)run.played.pes[k].lastUs / 1000, run.played.pes[k].bytes.size(), run.played.pes[k].bytes[3]);
        for (size_t j = 0; j < run.sim.changes.size(); ++j)
            printf("CHANGE %lld rows %d-%d ink %d %s\n", (long long)run.sim.changes[j].ms, run.sim.changes[j].firstRow,
                   run.sim.changes[j].lastRow, run.ink[j], run.sim.changes[j].text.c_str());
    }
    if (std::string(c.name) == "tsduck_143_fuzzed") {
        // Every PMT fails its CRC: the daemon keeps trying and shows nothing.
        EXPECT_NE(run.sim.log.find("Failed to GetAllPIDs()...try again."), std::string::npos);
        EXPECT_EQ(run.sim.log.find("Start "), std::string::npos);
        EXPECT_TRUE(run.sim.changes.empty());
        return;
    }
    // On the way out decoding stops before the display goes: nothing stays.
    if (!run.ink.empty()) {
        EXPECT_EQ(run.ink.back(), 0) << "the screen when the daemon ended";
    }
    const std::string start = c.kind == Kind::kDvb ? "Start DVB Subtile: PID=" + Hex(c.pid)
                                                   : "Start TXT Subtile: PID=" + Hex(c.pid) + ", PAGE=" + Hex(c.page);
    EXPECT_NE(run.sim.log.find(start + "\n"), std::string::npos) << start;
    if (c.kind == Kind::kDvb) {
        CheckDvb(c, run, bpp);
    } else {
        CheckTeletext(c, run, bpp);
    }
    int64_t leadMin = INT64_MAX, leadMax = 0;  // how far ahead of their time packets came
    for (const Pes& pes : run.played.pes) {
        leadMin = std::min(leadMin, pes.dueUs - pes.lastUs);
        leadMax = std::max(leadMax, pes.dueUs - pes.lastUs);
    }
    printf("[ e2e ] %s %d bpp: subtitles at most %lld ms after their time; packets came %lld to %lld ms ahead of it\n",
           run.label.c_str(), bpp, (long long)run.latest, (long long)(run.played.pes.empty() ? 0 : leadMin / 1000),
           (long long)(leadMax / 1000));
}

std::string Name(const ::testing::TestParamInfo<Screening>& info) {
    const Screening& s = info.param;
    std::string name = std::string(Cases()[s.stream].name) + "_" + std::to_string(s.bpp) + "bpp";
    if (s.width != dvbref::kWidth || s.height != dvbref::kHeight)
        name += "_" + std::to_string(s.width) + "x" + std::to_string(s.height);
    return name;
}

INSTANTIATE_TEST_SUITE_P(Streams, SampleRun, ::testing::ValuesIn(Screenings()), Name);

}  // namespace
}  // namespace e2e
