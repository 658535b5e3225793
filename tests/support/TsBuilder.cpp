#include "support/TsBuilder.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace ts {

uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

Bytes Section(uint8_t tableId, uint16_t extension, const Bytes& body, uint8_t version, bool corruptCrc) {
    size_t sectionLength = 5 + body.size() + 4;
    Bytes s;
    s.push_back(tableId);
    s.push_back(uint8_t(0xB0 | ((sectionLength >> 8) & 0x0F)));
    s.push_back(uint8_t(sectionLength & 0xFF));
    s.push_back(uint8_t(extension >> 8));
    s.push_back(uint8_t(extension & 0xFF));
    s.push_back(uint8_t(0xC1 | ((version & 0x1F) << 1)));
    s.push_back(0);  // section_number
    s.push_back(0);  // last_section_number
    s.insert(s.end(), body.begin(), body.end());
    uint32_t crc = Crc32(s.data(), s.size());
    if (corruptCrc) crc ^= 0x00010000;
    for (int shift = 24; shift >= 0; shift -= 8) s.push_back(uint8_t(crc >> shift));
    return s;
}

Bytes Pat(uint16_t transportStreamId, const std::vector<PatEntry>& programs) {
    Bytes body;
    for (const PatEntry& e : programs) {
        body.push_back(uint8_t(e.programNumber >> 8));
        body.push_back(uint8_t(e.programNumber));
        body.push_back(uint8_t(0xE0 | ((e.pid >> 8) & 0x1F)));
        body.push_back(uint8_t(e.pid));
    }
    return Section(0x00, transportStreamId, body);
}

Bytes Descriptor(uint8_t tag, const Bytes& body) {
    Bytes d{tag, uint8_t(body.size())};
    d.insert(d.end(), body.begin(), body.end());
    return d;
}

static void PutLanguage(Bytes& out, const std::string& language) {
    for (size_t i = 0; i < 3; ++i) out.push_back(i < language.size() ? uint8_t(language[i]) : ' ');
}

Bytes TeletextDescriptor(const std::vector<TeletextEntry>& entries) {
    Bytes body;
    for (const TeletextEntry& e : entries) {
        PutLanguage(body, e.language);
        body.push_back(uint8_t((e.type << 3) | (e.magazine & 0x07)));
        body.push_back(uint8_t(e.pageNumber));
    }
    return Descriptor(0x56, body);
}

Bytes SubtitlingDescriptor(const std::vector<SubtitlingEntry>& entries) {
    Bytes body;
    for (const SubtitlingEntry& e : entries) {
        PutLanguage(body, e.language);
        body.push_back(uint8_t(e.type));
        body.push_back(uint8_t(e.compositionPageId >> 8));
        body.push_back(uint8_t(e.compositionPageId));
        body.push_back(uint8_t(e.ancillaryPageId >> 8));
        body.push_back(uint8_t(e.ancillaryPageId));
    }
    return Descriptor(0x59, body);
}

Bytes Pmt(uint16_t programNumber, int pcrPid, const std::vector<EsEntry>& streams, const Bytes& programInfo) {
    Bytes body;
    body.push_back(uint8_t(0xE0 | ((pcrPid >> 8) & 0x1F)));
    body.push_back(uint8_t(pcrPid));
    body.push_back(uint8_t(0xF0 | ((programInfo.size() >> 8) & 0x0F)));
    body.push_back(uint8_t(programInfo.size()));
    body.insert(body.end(), programInfo.begin(), programInfo.end());
    for (const EsEntry& e : streams) {
        body.push_back(uint8_t(e.streamType));
        body.push_back(uint8_t(0xE0 | ((e.pid >> 8) & 0x1F)));
        body.push_back(uint8_t(e.pid));
        body.push_back(uint8_t(0xF0 | ((e.descriptors.size() >> 8) & 0x0F)));
        body.push_back(uint8_t(e.descriptors.size()));
        body.insert(body.end(), e.descriptors.begin(), e.descriptors.end());
    }
    return Section(0x02, programNumber, body);
}

static void PutPts(Bytes& out, int64_t pts, uint8_t prefix) {
    out.push_back(uint8_t(prefix | (((pts >> 30) & 0x07) << 1) | 1));
    out.push_back(uint8_t(pts >> 22));
    out.push_back(uint8_t((((pts >> 15) & 0x7F) << 1) | 1));
    out.push_back(uint8_t(pts >> 7));
    out.push_back(uint8_t(((pts & 0x7F) << 1) | 1));
}

Bytes Pes(uint8_t streamId, const Bytes& payload, int64_t pts, int declaredLength) {
    // ISO/IEC 13818-1 Table 2-22: these stream ids carry no optional header.
    bool plain = streamId == 0xBE || streamId == 0xBF || streamId == 0xBC || streamId == 0xF0 ||
                 streamId == 0xF1 || streamId == 0xFF || streamId == 0xF2 || streamId == 0xF8;
    Bytes header;
    if (!plain) {
        header.push_back(0x84);  // marker '10', data_alignment_indicator
        header.push_back(pts >= 0 ? 0x80 : 0x00);
        header.push_back(pts >= 0 ? 5 : 0);
        if (pts >= 0) PutPts(header, pts, 0x20);
    }
    size_t length = header.size() + payload.size();
    if (declaredLength >= 0) length = size_t(declaredLength);
    Bytes p{0x00, 0x00, 0x01, streamId, uint8_t((length >> 8) & 0xFF), uint8_t(length & 0xFF)};
    p.insert(p.end(), header.begin(), header.end());
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

Bytes DvbSubtitlePes(const Bytes& segments, int64_t pts) {
    Bytes payload{0x20, 0x00};  // EN 300 743 §7.1: data_identifier, subtitle_stream_id
    payload.insert(payload.end(), segments.begin(), segments.end());
    payload.push_back(0xFF);  // end_of_PES_data_field_marker
    return Pes(0xBD, payload, pts);
}

void TsBuilder::Packet(int pid, bool unitStart, const uint8_t* payload, size_t size, int64_t pcr) {
    Bytes p(188, 0xFF);
    p[0] = 0x47;
    p[1] = uint8_t((unitStart ? 0x40 : 0) | ((pid >> 8) & 0x1F));
    p[2] = uint8_t(pid);
    size_t room = 184;
    size_t afLength = 0;  // adaptation_field_length, when present
    bool hasAf = pcr >= 0 || size < 184;
    if (hasAf) {
        size_t minAf = pcr >= 0 ? 7 : 0;  // flags + 6 PCR bytes
        afLength = std::max(minAf, size < 183 ? 183 - size : 0);
        if (size == 183 && pcr < 0) afLength = 0;  // one byte: the length alone
        room = 183 - afLength;
    }
    size = std::min(size, room);
    int& cc = cc_[pid];
    bool payloadPresent = size > 0;
    p[3] = uint8_t((hasAf ? 0x20 : 0) | (payloadPresent ? 0x10 : 0) | (cc & 0x0F));
    if (payloadPresent) cc = (cc + 1) & 0x0F;
    size_t pos = 4;
    if (hasAf) {
        p[pos++] = uint8_t(afLength);
        if (afLength > 0) {
            p[pos] = pcr >= 0 ? 0x10 : 0x00;
            if (pcr >= 0) {
                uint64_t base = uint64_t(pcr) & ((uint64_t(1) << 33) - 1);
                p[pos + 1] = uint8_t(base >> 25);
                p[pos + 2] = uint8_t(base >> 17);
                p[pos + 3] = uint8_t(base >> 9);
                p[pos + 4] = uint8_t(base >> 1);
                p[pos + 5] = uint8_t(((base & 1) << 7) | 0x7E);
                p[pos + 6] = 0;
            }
        }
        pos += afLength;
    }
    std::copy(payload, payload + size, p.begin() + long(pos));
    data_.insert(data_.end(), p.begin(), p.end());
}

TsBuilder& TsBuilder::AddSection(int pid, const Bytes& section) { return AddSections(pid, {section}); }

TsBuilder& TsBuilder::AddSections(int pid, const std::vector<Bytes>& sections) {
    // Lay the sections out as one payload stream, then cut it into packets,
    // each packet that holds a section start getting a pointer_field.
    Bytes stream;
    std::vector<size_t> starts;
    for (const Bytes& s : sections) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), s.begin(), s.end());
    }
    size_t pos = 0;
    while (pos < stream.size()) {
        auto next = std::lower_bound(starts.begin(), starts.end(), pos);
        size_t offset = next != starts.end() ? *next - pos : 184;
        Bytes payload;
        size_t take;
        if (offset < 183) {
            payload.push_back(uint8_t(offset));
            take = std::min(stream.size() - pos, size_t(183));
        } else if (offset == 183) {
            // A start at the very last byte: this packet stops one short
            // (a 1-byte adaptation field), the next one starts the section.
            take = 183;
        } else {
            take = std::min(stream.size() - pos, size_t(184));
        }
        payload.insert(payload.end(), stream.begin() + long(pos), stream.begin() + long(pos + take));
        // Section payloads end in 0xFF stuffing, not an adaptation field.
        if (offset != 183) payload.resize(184, 0xFF);
        Packet(pid, offset < 183, payload.data(), payload.size(), -1);
        pos += take;
    }
    return *this;
}

TsBuilder& TsBuilder::AddPes(int pid, const Bytes& pes, int64_t pcr) {
    size_t pos = 0;
    bool first = true;
    do {
        size_t room = first && pcr >= 0 ? 176 : 184;
        size_t take = std::min(pes.size() - pos, room);
        Packet(pid, first, pes.data() + pos, take, first ? pcr : -1);
        pos += take;
        first = false;
    } while (pos < pes.size());
    return *this;
}

TsBuilder& TsBuilder::AddPcr(int pid, int64_t pcr90k) {
    Packet(pid, false, nullptr, 0, pcr90k);
    return *this;
}

TsBuilder& TsBuilder::AddNull(int count) {
    for (int i = 0; i < count; ++i) Packet(0x1FFF, false, nullptr, 0, -1);
    return *this;
}

TsBuilder& TsBuilder::AddRaw(const Bytes& packet) {
    Bytes p = packet;
    p.resize(188, 0xFF);
    data_.insert(data_.end(), p.begin(), p.end());
    return *this;
}

bool TsBuilder::WriteTo(const std::string& path) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data_.data()), std::streamsize(data_.size()));
    return bool(out);
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

namespace {
// The PES packets of a raw file: offsets and sizes from each start code's
// PES_packet_length; bytes that do not start a packet are skipped.
struct RawPes {
    size_t offset;
    size_t size;
    int64_t pts;
};

std::vector<RawPes> SplitRaw(const Bytes& raw) {
    std::vector<RawPes> out;
    size_t pos = 0;
    while (pos + 6 <= raw.size()) {
        if (raw[pos] != 0 || raw[pos + 1] != 0 || raw[pos + 2] != 1) {
            ++pos;
            continue;
        }
        size_t size = std::min(raw.size() - pos, size_t((raw[pos + 4] << 8) | raw[pos + 5]) + 6);
        int64_t pts = -1;
        if (size >= 14 && raw[pos + 3] != 0xBE && (raw[pos + 7] & 0x80)) {
            const uint8_t* b = &raw[pos + 9];
            pts = (int64_t((b[0] >> 1) & 7) << 30) | (int64_t(b[1]) << 22) | (int64_t(b[2] >> 1) << 15) |
                  (int64_t(b[3]) << 7) | (b[4] >> 1);
        }
        out.push_back({pos, size, pts});
        pos += size;
    }
    return out;
}
}  // namespace

Bytes WrapPes(const Bytes& rawPes, const WrapOptions& o) {
    TsBuilder b;
    Bytes pat = Pat(1, {{o.serviceId, o.pmtPid}});
    Bytes pmt = Pmt(uint16_t(o.serviceId), o.pcrPid, {{0x06, o.pid, o.descriptors}});
    b.AddSection(0, pat).AddSection(o.pmtPid, pmt);
    int64_t clock = o.firstPcr;
    size_t sincePsi = 0;
    bool started = false;
    for (const RawPes& p : SplitRaw(rawPes)) {
        // The PCR follows the PTS (a fixed lead ahead of it), never backwards.
        int64_t wanted = p.pts >= 0 ? p.pts - o.pcrLead : clock + o.spacing;
        // Tables in the gap since the last PES (not before the first, nor
        // across a jump of the time stamps), each with the clock it is sent at.
        const bool fill = o.psiInterval > 0 && started && wanted - clock <= 10 * 90000;
        started = true;
        for (int64_t at = clock + o.psiInterval; fill && at < wanted; at += o.psiInterval) {
            b.AddPcr(o.pcrPid, at);
            b.AddSection(0, pat).AddSection(o.pmtPid, pmt);
            sincePsi = 0;
        }
        if (wanted > clock) clock = wanted;
        if (o.pcrPid == o.pid)
            b.AddPes(o.pid, Bytes(rawPes.begin() + long(p.offset), rawPes.begin() + long(p.offset + p.size)), clock);
        else {
            b.AddPcr(o.pcrPid, clock);
            b.AddPes(o.pid, Bytes(rawPes.begin() + long(p.offset), rawPes.begin() + long(p.offset + p.size)));
        }
        sincePsi += p.size / 184 + 2;
        if (sincePsi >= 100) {
            b.AddSection(0, pat).AddSection(o.pmtPid, pmt);
            sincePsi = 0;
        }
    }
    b.AddPcr(o.pcrPid, clock + o.spacing);
    return b.Data();
}

}  // namespace ts
