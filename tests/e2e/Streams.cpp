#include "Streams.h"

#include <algorithm>
#include <cstdio>

#include "PsiWrap.h"
#include "SimClock.h"
#include "TsInfo.h"
#include "TsReplay.h"
#include "demux/PESFilter.h"
#include "support/DvbSubSamples.h"

namespace e2e {

const std::vector<StreamCase>& Cases() {
    // Counts from the samples' README (FFmpeg and libzvbi decodes).
    static const std::vector<StreamCase> cases = {
        // The DVB service's subtitles end at 31.9 s; the rest is Teletext's.
        {"demo_dvb", "demo.ts", -1, Kind::kDvb, 1, "fre", 0x29, 2, 10, true, false, {}, 33},
        {"demo_teletext", "demo.ts", -1, Kind::kTeletext, 2, "fre", 0x42C, 0x889, 9, true, true, {}},
        {"tsduck_012_fr", "tsduck-test-012.ts", -1, Kind::kTeletext, 4006, "fre", 0x42C, 0x889, 9, true, true, {}},
        // The first of the capture's 4 roll-up steps comes before its PMT.
        {"tsduck_108_rai2", "tsduck-test-108.ts", -1, Kind::kTeletext, 3402, "ita", 0x241, 0x777, 4, true, false, {}},
        {"tsduck_018_psi_only", "tsduck-test-018.ts", -1, Kind::kTeletext, 1, "ita", 0x653, 0x776, 0, false, false, {},
         0, 30},
        {"subtitleedit_teletext_de", "subtitleedit-sample_TS_with_teletext.ts", 0x13F0, Kind::kTeletext, 1, "ger",
         0x13F0, 0x150, 1, true, true, {{"ger", 2, 1, 0x50}, {"dan", 2, 7, 0x99}}},
        {"subtitleedit_teletext_da", "subtitleedit-sample_TS_with_teletext.ts", 0x13F0, Kind::kTeletext, 1, "dan",
         0x13F0, 0x799, 2, true, true, {{"ger", 2, 1, 0x50}, {"dan", 2, 7, 0x99}}},
        {"tsduck_143_fuzzed", "tsduck-test-143-fuzzed.ts", -1, Kind::kTeletext, 60, "swe", 0x3E, 0x888, 0, false, false, {}},
        {"viewts_dvb", "viewts-video_dvbSub.ts", -1, Kind::kDvb, 274, "fre", 0xF0, 1, 1, true, false, {}},
        // Normal subtitles (0x14, PID 0x8E) before the hard-of-hearing ones
        // that the PMT lists first (0x24, PID 0x8C): "SubtileType" 2.
        {"tsduck_026_padding", "tsduck-test-026.ts", -1, Kind::kDvb, 257, "fre", 0x8E, 1, 0, false, false, {}},
        {"subtitleedit_graphics", "subtitleedit-sample_TS_with_graphics.ts", 0x29, Kind::kDvb, 1, "fre", 0x29, 2, 10,
         true, false, {}},
        // A 320 x 240 display: its two subtitles are scaled up (FFmpeg's
        // encoder made it, ending 8-bit strings one zero byte short).
        {"subtitleedit_320x240", "subtitleedit-sample_TS_dvbsub_at_video_start.ts", -1, Kind::kDvb, 1, "und", 0x101, 1,
         2, false, false, {}},
        {"ccextractor_string_coding", "ccextractor-dvb_string_coding_sample.ts", -1, Kind::kDvb, 1, "eng", 0x101, 1, 0,
         false, false, {}, 0, 30},
        {"pes_uk_colours", "pes/libdvbsubdec-514000000_subtitle_pid_1631.pes", -2, Kind::kDvb, 1, "eng", 0x100, 2, 14,
         true, false, {}},
        {"pes_uk_rollup", "pes/libdvbsubdec-490000000_subtitle_pid_205.pes", -2, Kind::kDvb, 1, "eng", 0x100, 1, 105,
         true, false, {}},
        {"pes_fr_hd", "pes/libdvbsubdec-tnt-uhf33-570MHz-2019-01-22_subtitle_pid_140.pes", -2, Kind::kDvb, 1, "fre",
         0x100, 1, 11, false, false, {}},
    };
    return cases;
}

bool Bundled(const StreamCase& c) { return std::string(c.file) == "demo.ts"; }

std::string SourcePath(const StreamCase& c) {
    const std::string path =
        Bundled(c) ? std::string(TEKO_SOURCE_DIR "/data/samples/") + c.file : std::string(TEKO_SAMPLES_DIR "/") + c.file;
    return dvbsub::ReadBytes(path).empty() ? std::string() : path;
}

std::vector<Pes> PesOf(const std::vector<uint8_t>& ts, int pid, int64_t* durationUs) {
    SimClock clock(1.0);
    TsReplay replay(clock);
    std::vector<Pes> out;
    if (!replay.LoadBytes(ts)) return out;
    if (durationUs) *durationUs = replay.DurationMicros();
    Pes current;
    size_t wanted = 0;  // PES_packet_length + 6, or 0 when unbounded
    auto finish = [&]() {
        if (current.bytes.size() >= 6) out.push_back(current);
        current = Pes();
        wanted = 0;
    };
    for (size_t i = 0; i < replay.PacketCount(); ++i) {
        const uint8_t* p = replay.PacketAt(i);
        if ((((p[1] & 0x1F) << 8) | p[2]) != pid || (p[1] & 0x80) || !(p[3] & 0x10)) continue;
        size_t at = 4;
        if (p[3] & 0x20) at += 1 + size_t(p[4]);
        if (at >= 188) continue;
        if (p[1] & 0x40) {
            if (!current.bytes.empty()) finish();
            current.firstPacket = i;
            current.firstUs = replay.TimeOf(i);
        } else if (current.bytes.empty()) {
            continue;  // the tail of a PES cut at the start of the capture
        }
        current.bytes.insert(current.bytes.end(), p + at, p + 188);
        current.lastUs = replay.TimeOf(i);
        if (wanted == 0 && current.bytes.size() >= 6) {
            const size_t declared = size_t(current.bytes[4]) << 8 | current.bytes[5];
            wanted = declared ? declared + 6 : 0;
        }
        if (wanted && current.bytes.size() >= wanted) {
            current.bytes.resize(wanted);
            finish();
        }
    }
    if (!current.bytes.empty() && !wanted) finish();  // unbounded: ends with the capture
    for (Pes& pes : out) {
        pes.dueUs = pes.lastUs;
        int64_t pts = 0;
        if (PESFilter::extractPTS(pts, pes.bytes.data(), int(pes.bytes.size())) != 0) continue;
        const int64_t period = int64_t(1) << 33;
        int64_t lead = ((pts - replay.StcAt(pid, pes.lastUs)) % period + period) % period;
        if (lead > period / 2) lead -= period;
        if (lead > 0 && lead <= 10 * 90000) pes.dueUs += lead * 1000 / 90;
    }
    return out;
}

bool Prepare(const StreamCase& c, const std::string& dir, Played& played, std::string& error) {
    const std::string source = SourcePath(c);
    if (source.empty()) {
        error = std::string(c.file) + " is not there";
        return false;
    }
    std::vector<uint8_t> ts = dvbsub::ReadBytes(source);
    played.path = source;
    if (c.sourcePid != -1) {
        // tekod-sim's own wrapping, as its --pid plays such captures.
        psiwrap::Layout layout;
        layout.pid = c.pid;
        layout.pcrPid = c.pid + 1;
        layout.serviceId = c.service;
        layout.psiInterval = 9000;  // tables every 100 ms, as on air
        if (c.kind == Kind::kDvb)
            layout.descriptors = ts::SubtitlingDescriptor({{c.language, 0x10, c.page, c.page}});
        else
            layout.descriptors = ts::TeletextDescriptor(c.teletext);
        ts = psiwrap::WrapPes(c.sourcePid == -2 ? ts : psiwrap::PayloadStream(ts, c.sourcePid), layout);
        played.path = dir + "/" + c.name + ".ts";
    }
    if (c.copies > 0) {
        ts.resize(ts.size() / 188 * 188);
        ts::TsBuilder nulls;
        nulls.AddNull(int(std::max<size_t>(100, ts.size() / 188) - ts.size() / 188));
        ts.insert(ts.end(), nulls.Data().begin(), nulls.Data().end());
        std::vector<uint8_t> copies;
        for (int n = 0; n < c.copies; ++n) copies.insert(copies.end(), ts.begin(), ts.end());
        ts.swap(copies);
        played.path = dir + "/" + c.name + ".ts";
    }
    if (played.path != source) {
        FILE* f = fopen(played.path.c_str(), "wb");
        if (!f || fwrite(ts.data(), 1, ts.size(), f) != ts.size()) {
            if (f) fclose(f);
            error = "cannot write " + played.path;
            return false;
        }
        fclose(f);
    }
    played.pes = PesOf(ts, c.pid, &played.durationUs);
    // The daemon's PES filter starts once it has read the service's PMT.
    TsInfo info;
    std::string why;
    if (info.Load(played.path, why)) {
        if (const TsService* service = info.Find(c.service)) {
            SimClock clock(1.0);
            TsReplay replay(clock);
            replay.LoadBytes(ts);
            bool patSeen = false;
            for (size_t i = 0; i < replay.PacketCount() && played.pmtUs < 0; ++i) {
                const uint8_t* p = replay.PacketAt(i);
                const int pid = ((p[1] & 0x1F) << 8) | p[2];
                patSeen |= pid == 0;
                if (patSeen && pid == service->pmtPid && (p[1] & 0x40)) played.pmtUs = replay.TimeOf(i);
            }
        }
    }
    return true;
}

}  // namespace e2e
