// Builds the demo stream of data/samples/ from two permissively licensed
// captures: a DVB subtitle stream without PSI and a French Teletext
// capture. They become two services of one multiplex, each with its own
// PAT entry, PMT and PCR: the DVB subtitles play first, then the Teletext
// subtitles, on one time line. PSI is repeated every 100 ms so that a zap
// is answered quickly.
//
//   make_demo_stream DVB.ts TELETEXT.ts OUT.ts
#include <cstdio>
#include <string>
#include <vector>

#include "support/DvbSubSamples.h"
#include "support/TsBuilder.h"

namespace {

constexpr int kDvbPid = 0x0029;        // as in the DVB capture
constexpr int kTeletextPid = 0x042C;   // as in the Teletext capture
constexpr int kDvbService = 1, kDvbPmt = 0x0100, kDvbPcr = 0x0101;
constexpr int kTxtService = 2, kTxtPmt = 0x0200, kTxtPcr = 0x0201;
constexpr int64_t kTick = 90;          // 90 kHz ticks per millisecond
constexpr int64_t kStart = 10 * 90000; // PCR of the first packet
constexpr int64_t kGap = 2 * 90000;    // pause between the two programmes
constexpr int64_t kLead = 300 * kTick; // a PES is sent this long before its PTS

struct Timed {
    int64_t pts;
    std::vector<uint8_t> pes;
};

int64_t PtsOf(const std::vector<uint8_t>& pes) {
    if (pes.size() < 14 || !(pes[7] & 0x80)) return -1;
    return (int64_t(pes[9] & 0x0E) << 29) | (int64_t(pes[10]) << 22) | (int64_t(pes[11] & 0xFE) << 14) |
           (int64_t(pes[12]) << 7) | (pes[13] >> 1);
}

void SetPts(std::vector<uint8_t>& pes, int64_t pts) {
    pes[9] = uint8_t(0x21 | ((pts >> 29) & 0x0E));
    pes[10] = uint8_t(pts >> 22);
    pes[11] = uint8_t(0x01 | ((pts >> 14) & 0xFE));
    pes[12] = uint8_t(pts >> 7);
    pes[13] = uint8_t(0x01 | ((pts << 1) & 0xFE));
}

// The PES of one PID, moved onto the common time line from `base` on.
std::vector<Timed> Retime(const std::vector<uint8_t>& ts, int pid, int64_t base, int64_t& end) {
    std::vector<Timed> out;
    int64_t first = -1, last = base;
    for (std::vector<uint8_t>& pes : dvbsub::SplitPes(dvbsub::PayloadStream(ts, pid))) {
        int64_t pts = PtsOf(pes);
        if (pts < 0) continue;
        if (first < 0) first = pts;
        int64_t moved = base + (pts - first);
        SetPts(pes, moved);
        out.push_back({moved, pes});
        if (moved > last) last = moved;
    }
    end = last;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: make_demo_stream DVB.ts TELETEXT.ts OUT.ts\n");
        return 2;
    }
    int64_t dvbEnd = 0, txtEnd = 0;
    std::vector<Timed> dvb = Retime(ts::ReadFile(argv[1]), kDvbPid, kStart + kLead, dvbEnd);
    std::vector<Timed> txt = Retime(ts::ReadFile(argv[2]), kTeletextPid, dvbEnd + kGap, txtEnd);
    if (dvb.empty() || txt.empty()) {
        fprintf(stderr, "make_demo_stream: no PES found in the inputs\n");
        return 1;
    }
    // The DVB stream's display sets use page_id 2.
    ts::Bytes pat = ts::Pat(1, {{kDvbService, kDvbPmt}, {kTxtService, kTxtPmt}});
    ts::Bytes dvbPmt = ts::Pmt(kDvbService, kDvbPcr,
                               {{0x06, kDvbPid, ts::SubtitlingDescriptor({{"fra", 0x10, 2, 2}})}});
    ts::Bytes txtPmt = ts::Pmt(kTxtService, kTxtPcr,
                               {{0x06, kTeletextPid,
                                 ts::TeletextDescriptor({{"fra", 5, 0, 0x88}, {"fra", 2, 0, 0x89}})}});

    ts::TsBuilder out;
    size_t nextDvb = 0, nextTxt = 0;
    const int64_t stop = txtEnd + 3 * 90000;
    for (int64_t now = kStart, step = 0; now <= stop; now += 20 * kTick, ++step) {
        if (step % 5 == 0) {
            out.AddSection(0, pat).AddSection(kDvbPmt, dvbPmt).AddSection(kTxtPmt, txtPmt);
        }
        if (step % 2 == 0) out.AddPcr(kDvbPcr, now).AddPcr(kTxtPcr, now);
        while (nextDvb < dvb.size() && dvb[nextDvb].pts - kLead <= now) out.AddPes(kDvbPid, dvb[nextDvb++].pes);
        while (nextTxt < txt.size() && txt[nextTxt].pts - kLead <= now) out.AddPes(kTeletextPid, txt[nextTxt++].pes);
    }
    if (!out.WriteTo(argv[3])) {
        fprintf(stderr, "make_demo_stream: cannot write %s\n", argv[3]);
        return 1;
    }
    printf("%s: %zu packets, DVB subtitles %.1f-%.1f s, Teletext %.1f-%.1f s (stream time)\n", argv[3],
           out.PacketCount(), (dvb.front().pts - kStart) / 90000.0, (dvbEnd - kStart) / 90000.0,
           (txt.front().pts - kStart) / 90000.0, (txtEnd - kStart) / 90000.0);
    return 0;
}
