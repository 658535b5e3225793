#include "PesScan.h"

#include <algorithm>

#include "SectionAssembler.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"
#include "teletext/TeletextTables.h"

namespace {

// ISO/IEC 13818-1 §2.4.3.6: where the PES data of a private stream 1
// packet begins, or false when it is no such packet.
bool PesData(const uint8_t* data, size_t size, ByteReader& payload) {
    ByteReader r(data, size);
    if (r.U24() != 0x000001 || r.U8() != ids::kStreamPrivate1) return false;
    r.Skip(2 + 2);  // PES_packet_length, flags
    r.Skip(r.U8());  // PES_header_data_length
    if (!r.Ok()) return false;
    payload = r;
    return true;
}

bool IsEbuIdentifier(uint8_t id) { return id >= ids::kEbuDataIdentifierFirst && id <= ids::kEbuDataIdentifierLast; }

uint8_t Hamming(uint8_t transmitted) { return teletext::kHamming84OfTransmitted[transmitted]; }

}  // namespace

void PesScan::Feed(const TsPacketInfo& packet) {
    if (!packet.payload) return;
    auto open = open_.find(packet.pid);
    if (packet.unitStart) {
        if (open != open_.end()) {
            OnPes(packet.pid, open->second.data(), open->second.size());
            open_.erase(open);
        }
        // Only PES that show subtitle data in their first packet are kept,
        // so that video and audio cost nothing.
        ByteReader data;
        if (!PesData(packet.payload, packet.payloadSize, data)) return;
        const uint8_t id = data.U8();
        if (!data.Ok() || (id != ids::kDvbSubDataIdentifier && !IsEbuIdentifier(id))) return;
        open_[packet.pid].assign(packet.payload, packet.payload + packet.payloadSize);
    } else if (open != open_.end()) {
        std::vector<uint8_t>& buf = open->second;
        buf.insert(buf.end(), packet.payload, packet.payload + std::min(packet.payloadSize, kMaxPes - buf.size()));
        if (buf.size() >= kMaxPes) {
            OnPes(packet.pid, buf.data(), buf.size());
            open_.erase(open);
        }
    }
}

void PesScan::Finish() {
    for (auto& open : open_) OnPes(open.first, open.second.data(), open.second.size());
    open_.clear();
}

std::vector<PesPid> PesScan::Pids() const {
    std::vector<PesPid> out;
    for (const auto& entry : found_) out.push_back(entry.second);
    return out;
}

void PesScan::OnPes(int pid, const uint8_t* data, size_t size) {
    ByteReader r;
    if (!PesData(data, size, r)) return;
    const uint8_t id = r.PeekAt(0);
    if (id != ids::kDvbSubDataIdentifier && !IsEbuIdentifier(id)) return;
    PesPid& out = found_[pid];
    // A PID that carries both kinds is listed as the first one seen.
    if (out.pes == 0) {
        out.pid = pid;
        out.teletext = id != ids::kDvbSubDataIdentifier;
    }
    if (out.teletext != (id != ids::kDvbSubDataIdentifier)) return;
    ++out.pes;
    if (out.teletext)
        ParseTeletext(out, r.Current(), r.Remaining());
    else
        ParseDvb(out, r.Current(), r.Remaining());
}

// EN 300 743 §7.2: data_identifier, subtitle_stream_id, then segments
// (sync byte, type, page_id, length) up to the end marker.
void PesScan::ParseDvb(PesPid& out, const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    r.Skip(2);
    while (r.Ok() && r.PeekAt(0) == ids::kDvbSubSyncByte) {
        r.U8();
        const uint8_t type = r.U8();
        const int pageId = r.U16();
        const size_t length = r.U16();
        if (!r.Skip(length)) break;
        if (type == ids::kSegPageComposition &&
            std::find(out.pageIds.begin(), out.pageIds.end(), pageId) == out.pageIds.end())
            out.pageIds.push_back(pageId);
    }
}

// EN 300 472 §4.3: data units after the data identifier; in a Teletext
// unit the magazine and packet address follows the framing code, and a
// packet 0 (the page header) goes on with page units, tens and the control
// bits S1 to C14 (EN 300 706 §9.3.1, each byte Hamming 8/4).
void PesScan::ParseTeletext(PesPid& out, const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    r.Skip(1);
    while (r.Remaining() >= 2) {
        const uint8_t unit = r.U8();
        ByteReader body = r.Sub(r.U8());
        if (unit != ids::kDataUnitTeletextNonSubtitle && unit != ids::kDataUnitTeletextSubtitle) continue;
        body.Skip(1);  // field parity and line offset
        if (body.U8() != ids::kEbuFramingCode) continue;
        uint8_t header[8];
        if (!body.Copy(header, sizeof header)) continue;
        uint8_t h[8];
        for (int i = 0; i < 8; ++i) h[i] = Hamming(header[i]);
        if (h[0] == teletext::kHammingError || h[1] == teletext::kHammingError) continue;
        const int magazine = h[0] & 0x07;
        const int packet = (h[0] >> 3) | (h[1] << 1);
        if (packet != 0 || h[2] > 9 || h[3] > 9) continue;  // not a header, or no displayable page
        const int page = (magazine == 0 ? 8 : magazine) << 8 | h[3] << 4 | h[2];
        out.pages.insert(page);
        if (h[7] != teletext::kHammingError && (h[7] & 0x08)) out.subtitlePages.insert(page);
    }
}
