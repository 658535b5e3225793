#include "TsInfo.h"

#include <fstream>
#include <iterator>
#include <map>

#include "SectionAssembler.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"

namespace {

bool IsVideo(int type) { return type == 0x01 || type == 0x02 || type == 0x1B || type == 0x24; }
bool IsAudio(int type) {
    return type == 0x03 || type == 0x04 || type == 0x0F || type == 0x11 || type == 0x81;
}

// A language code as printable text (a damaged capture sends anything).
std::string Language(ByteReader& r) {
    std::string code;
    for (int i = 0; i < 3; ++i) {
        const uint8_t c = r.U8();
        code += c > 0x20 && c < 0x7F ? char(c) : '?';
    }
    return code;
}

// EN 300 468 §6.2.41: 8-byte entries.
void ReadSubtitling(ByteReader& body, std::vector<SubtitleEntry>& out) {
    while (body.Remaining() >= 8) {
        SubtitleEntry e;
        e.language = Language(body);
        e.type = body.U8();
        e.compositionPage = body.U16();
        e.ancillaryPage = body.U16();
        out.push_back(e);
    }
}

// EN 300 468 §6.2.43: 5-byte entries, type in the top 5 bits, then the
// magazine (0 standing for 8, EN 300 706 §3.1) and the BCD page number.
void ReadTeletext(ByteReader& body, TsStream& stream) {
    while (body.Remaining() >= 5) {
        SubtitleEntry e;
        e.language = Language(body);
        const uint8_t typeAndMagazine = body.U8();
        e.type = typeAndMagazine >> 3;
        const int magazine = typeAndMagazine & 0x07;
        e.page = (magazine == 0 ? 8 : magazine) << 8 | body.U8();
        if (e.type == ids::kTeletextTypeSubtitle || e.type == ids::kTeletextTypeHearingImpaired)
            stream.subtitlePages = true;
        stream.entries.push_back(e);
    }
}

// EN 300 468 Annex A: the text of a name as UTF-8. A table selector is
// dropped, control codes too; bytes of a single-byte table are read as
// Latin-1, which names the letters of most West European names right.
std::string DvbText(ByteReader r) {
    bool utf8 = false;
    if (r.Remaining() > 0 && r.PeekAt(0) < ids::kTextTableFirst) {
        const uint8_t table = r.U8();
        utf8 = table == ids::kTextTableUtf8;
        if (table == ids::kTextTableThreeBytes) r.Skip(2);
        if (table == ids::kTextTableEncodingType) r.Skip(1);
    }
    std::string text;
    while (r.Ok() && r.Remaining() > 0) {
        const uint8_t c = r.U8();
        if (c < 0x20 || (c >= 0x7F && c < 0xA0 && !utf8)) continue;
        if (c < 0x80 || utf8) {
            text += char(c);
        } else {
            text += char(0xC0 | (c >> 6));
            text += char(0x80 | (c & 0x3F));
        }
    }
    return text;
}

}  // namespace

int TsService::VideoPid() const {
    for (const TsStream& s : streams)
        if (IsVideo(s.streamType)) return s.pid;
    return -1;
}

int TsService::AudioPid() const {
    for (const TsStream& s : streams)
        if (IsAudio(s.streamType)) return s.pid;
    return -1;
}

int TsService::TeletextPid() const {
    for (const TsStream& s : streams)
        if (s.teletext) return s.pid;
    return -1;
}

bool TsService::HasSubtitles() const {
    for (const TsStream& s : streams)
        if (s.dvbSubtitles || s.subtitlePages) return true;
    return false;
}

const TsService* TsInfo::Find(int serviceId) const {
    for (const TsService& s : services_)
        if (s.serviceId == serviceId) return &s;
    return nullptr;
}

const TsService* TsInfo::FirstWithSubtitles() const {
    for (const TsService& s : services_)
        if (s.HasSubtitles()) return &s;
    return nullptr;
}

const PesPid* TsInfo::FindPes(int pid) const {
    for (const PesPid& p : pesPids_)
        if (p.pid == pid) return &p;
    return nullptr;
}

bool TsInfo::Load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LoadBytes(data, path, error);
}

bool TsInfo::LoadBytes(const std::vector<uint8_t>& data, const std::string& path, std::string& error) {
    std::map<int, SectionAssembler> assemblers;
    PesScan pes;
    // Packets that the next one follows without a gap (or that end the
    // file): most are, in a transport stream with some bytes lost or doubled.
    size_t inStep = 0;
    for (size_t pos = 0;;) {
        const size_t next = NextTsPacket(data.data(), data.size(), pos);
        skipped_ += next - pos;
        if (next == data.size()) break;
        pos = next + ids::kTsPacketSize;
        ++packets_;
        if (pos == data.size() || data[pos] == ids::kTsSyncByte) ++inStep;
        TsPacketInfo info;
        ParseTsPacket(&data[next], info);
        bool wanted = info.pid == ids::kPidPAT || info.pid == ids::kPidSDT;
        for (const TsService& s : services_) wanted = wanted || s.pmtPid == info.pid;
        if (!wanted) {
            pes.Feed(info);
            continue;
        }
        assemblers[info.pid].Feed(info, [this, &info](const uint8_t* section, size_t size) {
            if (size >= 7 && SectionCrc32(section, size) == 0)
                OnSection(info.pid, std::vector<uint8_t>(section, section + size));
        });
    }
    pes.Finish();
    pesPids_ = pes.Pids();
    for (TsService& s : services_)
        if (names_.count(s.serviceId)) s.name = names_[s.serviceId];
    if (packets_ == 0 || inStep * 2 < packets_) {
        error = path + " is not an MPEG transport stream (188-byte packets with sync byte 0x47)";
        return false;
    }
    return true;
}

void TsInfo::OnSection(int pid, const std::vector<uint8_t>& section) {
    if (pid == ids::kPidSDT) {
        if (section[0] == ids::kTableSDTActual) ParseSdt(section);
        return;
    }
    if (pid == ids::kPidPAT && section[0] == ids::kTablePAT) {
        if (!patSeen_) ParsePat(section);
        return;
    }
    if (section[0] != ids::kTablePMT) return;
    for (TsService& s : services_) {
        if (s.pmtPid == pid && !s.pmtSeen) {
            ByteReader r(section.data(), section.size());
            r.Skip(3);
            if (r.U16() == s.serviceId) ParsePmt(s, section);
        }
    }
}

void TsInfo::ParsePat(const std::vector<uint8_t>& section) {
    patSeen_ = true;
    ByteReader r(section.data(), section.size() - 4);
    r.Skip(8);
    while (r.Remaining() >= 4) {
        int program = r.U16();
        int pid = r.U16() & 0x1FFF;
        if (program == 0) continue;
        TsService service;
        service.serviceId = program;
        service.pmtPid = pid;
        services_.push_back(service);
    }
}

void TsInfo::ParsePmt(TsService& service, const std::vector<uint8_t>& section) {
    service.pmtSeen = true;
    ByteReader r(section.data(), section.size() - 4);
    r.Skip(10);
    r.Skip(r.U16() & 0xFFF);
    while (r.Ok() && r.Remaining() >= 5) {
        TsStream stream;
        stream.streamType = r.U8();
        stream.pid = r.U16() & 0x1FFF;
        ByteReader descriptors = r.Sub(r.U16() & 0xFFF);
        while (descriptors.Remaining() >= 2) {
            uint8_t tag = descriptors.U8();
            ByteReader body = descriptors.Sub(descriptors.U8());
            if (tag == ids::kDescSubtitling) {
                stream.dvbSubtitles = true;
                ReadSubtitling(body, stream.entries);
            }
            if (tag == ids::kDescTeletext || tag == ids::kDescVBITeletext) {
                stream.teletext = true;
                ReadTeletext(body, stream);
            }
        }
        service.streams.push_back(stream);
    }
}

// EN 300 468 §5.2.3: after the header, per service its id, the EIT flags
// and a descriptor loop; the service descriptor (§6.2.33) holds the name.
void TsInfo::ParseSdt(const std::vector<uint8_t>& section) {
    ByteReader r(section.data(), section.size() - 4);
    r.Skip(11);
    while (r.Ok() && r.Remaining() >= 5) {
        const int serviceId = r.U16();
        r.Skip(1);
        ByteReader descriptors = r.Sub(r.U16() & 0xFFF);
        while (descriptors.Remaining() >= 2) {
            const uint8_t tag = descriptors.U8();
            ByteReader body = descriptors.Sub(descriptors.U8());
            if (tag != ids::kDescService) continue;
            body.Skip(1);             // service_type
            body.Skip(body.U8());     // provider name
            ByteReader name = body.Sub(body.U8());
            if (body.Ok() && !names_.count(serviceId)) names_[serviceId] = DvbText(name);
        }
    }
}
