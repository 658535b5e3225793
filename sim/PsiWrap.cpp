#include "PsiWrap.h"

#include <algorithm>
#include <cstring>

#include "SectionAssembler.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"

namespace psiwrap {

namespace {

constexpr size_t kPayload = ids::kTsPacketSize - 4;
// A broadcast repeats its tables at least this often (in packets) even
// where the PES follow each other closely.
constexpr size_t kPsiEveryPackets = 100;
// Time stamps further apart than this are a jump, not a gap to fill.
constexpr int64_t kMaxFill90k = 10 * 90000;

void PutLanguage(Bytes& out, const std::string& language) {
    for (size_t i = 0; i < 3; ++i) out.push_back(i < language.size() ? uint8_t(language[i]) : ' ');
}

// ISO/IEC 13818-1 §2.4.4.3 and §2.4.4.8: the long section form with its CRC.
Bytes Section(uint8_t tableId, int extension, const Bytes& body) {
    const size_t length = 5 + body.size() + 4;
    // Reserved and appended, not inserted after an initialiser list: GCC 12
    // at -O3 takes the latter for an out-of-bounds copy.
    Bytes s;
    s.reserve(3 + length);
    for (uint8_t b : {tableId, uint8_t(0xB0 | (length >> 8)), uint8_t(length), uint8_t(extension >> 8),
                      uint8_t(extension), uint8_t(0xC1), uint8_t(0x00), uint8_t(0x00)})
        s.push_back(b);
    for (uint8_t b : body) s.push_back(b);
    const uint32_t crc = SectionCrc32(s.data(), s.size());
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(uint8_t(crc >> shift));
    return s;
}

Bytes Pat(const Layout& o) {
    return Section(ids::kTablePAT, 1, {uint8_t(o.serviceId >> 8), uint8_t(o.serviceId),
                                       uint8_t(0xE0 | (o.pmtPid >> 8)), uint8_t(o.pmtPid)});
}

Bytes Pmt(const Layout& o) {
    const size_t info = o.descriptors.size();
    Bytes body;
    body.reserve(9 + info);
    for (uint8_t b : {uint8_t(0xE0 | (o.pcrPid >> 8)), uint8_t(o.pcrPid), uint8_t(0xF0), uint8_t(0x00),
                      ids::kStreamTypePrivatePES, uint8_t(0xE0 | (o.pid >> 8)), uint8_t(o.pid),
                      uint8_t(0xF0 | (info >> 8)), uint8_t(info)})
        body.push_back(b);
    for (uint8_t b : o.descriptors) body.push_back(b);
    return Section(ids::kTablePMT, o.serviceId, body);
}

// Cuts payloads into packets with continuity counters, PCR and stuffing.
class Packetizer {
public:
    void Packet(int pid, bool unitStart, const uint8_t* payload, size_t size, int64_t pcr);
    void Section(int pid, const Bytes& section);
    void Pes(int pid, const uint8_t* pes, size_t size, int64_t pcr);
    void Pcr(int pid, int64_t pcr) { Packet(pid, false, nullptr, 0, pcr); }
    Bytes& Data() { return data_; }

private:
    int cc_[ids::kPidNull + 1] = {};
    Bytes data_;
};

void Packetizer::Packet(int pid, bool unitStart, const uint8_t* payload, size_t size, int64_t pcr) {
    Bytes p(ids::kTsPacketSize, 0xFF);
    p[0] = ids::kTsSyncByte;
    p[1] = uint8_t((unitStart ? 0x40 : 0) | (pid >> 8));
    p[2] = uint8_t(pid);
    const bool hasAf = pcr >= 0 || size < kPayload;
    // adaptation_field_length: room for the flags and a PCR, then stuffing;
    // a single missing byte is the length byte alone.
    size_t afLength = 0;
    if (hasAf) {
        afLength = std::max<size_t>(pcr >= 0 ? 7 : 0, size < kPayload - 1 ? kPayload - 1 - size : 0);
        size = std::min(size, kPayload - 1 - afLength);
    }
    int& cc = cc_[pid & ids::kPidNull];
    p[3] = uint8_t((hasAf ? 0x20 : 0) | (size > 0 ? 0x10 : 0) | cc);
    if (size > 0) cc = (cc + 1) & 0x0F;
    size_t pos = 4;
    if (hasAf) {
        p[pos++] = uint8_t(afLength);
        if (afLength > 0) p[pos] = pcr >= 0 ? 0x10 : 0x00;
        if (pcr >= 0) {
            const uint64_t base = uint64_t(pcr) & ((uint64_t(1) << 33) - 1);
            const uint8_t field[6] = {uint8_t(base >> 25), uint8_t(base >> 17), uint8_t(base >> 9),
                                      uint8_t(base >> 1), uint8_t(((base & 1) << 7) | 0x7E), 0};
            std::copy(field, field + 6, p.begin() + long(pos + 1));
        }
        pos += afLength;
    }
    if (payload && size > 0) std::memcpy(p.data() + pos, payload, size);
    data_.insert(data_.end(), p.begin(), p.end());
}

// A section of one packet or more, pointer_field 0, 0xFF after its end.
void Packetizer::Section(int pid, const Bytes& section) {
    Bytes stream((section.size() + 1 + kPayload - 1) / kPayload * kPayload, 0xFF);
    stream[0] = 0x00;
    std::copy(section.begin(), section.end(), stream.begin() + 1);
    for (size_t pos = 0; pos < stream.size(); pos += kPayload) Packet(pid, pos == 0, &stream[pos], kPayload, -1);
}

void Packetizer::Pes(int pid, const uint8_t* pes, size_t size, int64_t pcr) {
    size_t pos = 0;
    do {
        const bool first = pos == 0;
        const size_t take = std::min(size - pos, first && pcr >= 0 ? kPayload - 8 : kPayload);
        Packet(pid, first, pes + pos, take, first ? pcr : -1);
        pos += take;
    } while (pos < size);
}

struct RawPes {
    size_t offset;
    size_t size;
    int64_t pts;  // -1 without one
};

// ISO/IEC 13818-1 §2.4.3.7: the 33-bit PTS of a PES header.
int64_t PtsOf(ByteReader r) {
    r.Skip(3);
    const uint8_t streamId = r.U8();
    r.Skip(3);
    const uint8_t flags = r.U8();
    r.Skip(1);
    if (streamId == ids::kStreamPadding || !(flags & 0x80)) return -1;
    const int64_t high = (r.U8() >> 1) & 0x07;
    const int64_t mid = r.U16() >> 1;
    const int64_t low = r.U16() >> 1;
    return r.Ok() ? high << 30 | mid << 15 | low : -1;
}

// The PES packets of a raw file by each start code's PES_packet_length;
// bytes that do not start a packet are skipped.
std::vector<RawPes> SplitRaw(const Bytes& raw) {
    std::vector<RawPes> out;
    ByteReader r(raw.data(), raw.size());
    while (r.Remaining() >= 6) {
        if (r.PeekAt(0) != 0 || r.PeekAt(1) != 0 || r.PeekAt(2) != 1) {
            r.Skip(1);
            continue;
        }
        const size_t size = std::min(r.Remaining(), size_t(r.PeekAt(4) << 8 | r.PeekAt(5)) + 6);
        out.push_back({r.Position(), size, PtsOf(ByteReader(r.Current(), size))});
        r.Skip(size);
    }
    return out;
}

}  // namespace

Bytes Descriptor(const Subtitle& s) {
    Bytes d{s.teletext ? ids::kDescTeletext : ids::kDescSubtitling, uint8_t(s.teletext ? 5 : 8)};
    PutLanguage(d, s.language);
    if (s.teletext) {
        d.push_back(uint8_t(s.type << 3 | ((s.page >> 8) & 0x07)));
        d.push_back(uint8_t(s.page));
    } else {
        d.push_back(uint8_t(s.type));
        for (int page : {s.compositionPage, s.ancillaryPage}) {
            d.push_back(uint8_t(page >> 8));
            d.push_back(uint8_t(page));
        }
    }
    return d;
}

Bytes PayloadStream(const Bytes& ts, int pid) {
    Bytes out;
    for (size_t pos = NextTsPacket(ts.data(), ts.size(), 0); pos < ts.size();
         pos = NextTsPacket(ts.data(), ts.size(), pos + ids::kTsPacketSize)) {
        TsPacketInfo info;
        if (ParseTsPacket(&ts[pos], info) && info.pid == pid && info.payload)
            out.insert(out.end(), info.payload, info.payload + info.payloadSize);
    }
    return out;
}

void PickPids(int pid, Layout& layout) {
    layout.pid = pid;
    layout.pmtPid = pid == 0x1000 ? 0x1001 : 0x1000;
    layout.pcrPid = pid + 1 < ids::kPidNull && pid + 1 != layout.pmtPid ? pid + 1 : pid;
}

Bytes WrapPes(const Bytes& rawPes, const Layout& o) {
    Packetizer b;
    const Bytes pat = Pat(o), pmt = Pmt(o);
    auto tables = [&]() {
        b.Section(ids::kPidPAT, pat);
        b.Section(o.pmtPid, pmt);
    };
    tables();
    int64_t clock = o.firstPcr;
    size_t sincePsi = 0;
    bool started = false;
    for (const RawPes& p : SplitRaw(rawPes)) {
        // The PCR follows the PTS (a fixed lead ahead of it), never backwards.
        const int64_t wanted = p.pts >= 0 ? p.pts - o.pcrLead : clock + o.spacing;
        // Tables in the gap since the last PES (not before the first, nor
        // across a jump of the time stamps), each with the clock it is sent at.
        const bool fill = o.psiInterval > 0 && started && wanted - clock <= kMaxFill90k;
        started = true;
        for (int64_t at = clock + o.psiInterval; fill && at < wanted; at += o.psiInterval) {
            b.Pcr(o.pcrPid, at);
            tables();
            sincePsi = 0;
        }
        clock = std::max(clock, wanted);
        if (o.pcrPid != o.pid) b.Pcr(o.pcrPid, clock);
        b.Pes(o.pid, &rawPes[p.offset], p.size, o.pcrPid == o.pid ? clock : -1);
        sincePsi += p.size / kPayload + 2;
        if (sincePsi >= kPsiEveryPackets) {
            tables();
            sincePsi = 0;
        }
    }
    b.Pcr(o.pcrPid, clock + o.spacing);
    return b.Data();
}

}  // namespace psiwrap
