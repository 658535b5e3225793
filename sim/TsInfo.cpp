#include "TsInfo.h"

#include <fstream>
#include <iterator>
#include <map>

#include "SectionAssembler.h"
#include "demux/ByteReader.h"
#include "platform/Constants.h"

namespace {

bool IsVideo(int type) { return type == 0x01 || type == 0x02 || type == 0x1B || type == 0x24; }
bool IsAudio(int type) {
    return type == 0x03 || type == 0x04 || type == 0x0F || type == 0x11 || type == 0x81;
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

bool TsInfo::Load(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<int, SectionAssembler> assemblers;
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
        bool wanted = info.pid == ids::kPidPAT;
        for (const TsService& s : services_) wanted = wanted || s.pmtPid == info.pid;
        if (!wanted) continue;
        assemblers[info.pid].Feed(info, [this, &info](const uint8_t* section, size_t size) {
            if (size >= 7 && SectionCrc32(section, size) == 0)
                OnSection(info.pid, std::vector<uint8_t>(section, section + size));
        });
    }
    if (packets_ == 0 || inStep * 2 < packets_) {
        error = path + " is not an MPEG transport stream (188-byte packets with sync byte 0x47)";
        return false;
    }
    return true;
}

void TsInfo::OnSection(int pid, const std::vector<uint8_t>& section) {
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
            if (tag == ids::kDescSubtitling) stream.dvbSubtitles = true;
            if (tag == ids::kDescTeletext || tag == ids::kDescVBITeletext) {
                stream.teletext = true;
                // EN 300 468 §6.2.43: 5-byte entries, type in the top 5 bits.
                while (body.Remaining() >= 5) {
                    body.Skip(3);
                    int type = body.U8() >> 3;
                    body.U8();
                    if (type == ids::kTeletextTypeSubtitle || type == ids::kTeletextTypeHearingImpaired)
                        stream.subtitlePages = true;
                }
            }
        }
        service.streams.push_back(stream);
    }
}
