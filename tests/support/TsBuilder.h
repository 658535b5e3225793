// Builders of transport-stream test data (ISO/IEC 13818-1, EN 300 468):
// PSI sections with their CRC, PAT and PMT with teletext and subtitling
// descriptors, PES packets with or without a PTS, and a TsBuilder that cuts
// them into 188-byte TS packets with continuity counters, pointer_field,
// PCR and stuffing. WrapPes turns a raw PES file (one PID's packets back to
// back, no TS layer) into a playable TS with PAT, PMT and PCR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ts {

using Bytes = std::vector<uint8_t>;

// ISO/IEC 13818-1 Annex A CRC-32 (the value that makes a section's CRC 0).
uint32_t Crc32(const uint8_t* data, size_t size);

// A long-form section: table_id, section_syntax_indicator, length,
// table_id_extension, version, current_next, numbers, body and CRC_32.
// `corruptCrc` flips the CRC so that a CRC-checking demultiplexer drops it.
Bytes Section(uint8_t tableId, uint16_t extension, const Bytes& body, uint8_t version = 0,
              bool corruptCrc = false);

struct PatEntry {
    int programNumber;
    int pid;
};
Bytes Pat(uint16_t transportStreamId, const std::vector<PatEntry>& programs);

// EN 300 468 §6.2.43: one entry per page; `magazine` is 0 to 7 as sent.
struct TeletextEntry {
    std::string language;
    int type;
    int magazine;
    int pageNumber;  // the BCD page byte
};
Bytes TeletextDescriptor(const std::vector<TeletextEntry>& entries);

// EN 300 468 §6.2.41.
struct SubtitlingEntry {
    std::string language;
    int type;
    int compositionPageId;
    int ancillaryPageId;
};
Bytes SubtitlingDescriptor(const std::vector<SubtitlingEntry>& entries);
Bytes Descriptor(uint8_t tag, const Bytes& body);

struct EsEntry {
    int streamType;
    int pid;
    Bytes descriptors;  // concatenated descriptors
};
Bytes Pmt(uint16_t programNumber, int pcrPid, const std::vector<EsEntry>& streams,
          const Bytes& programInfo = {});

// A PES packet (ISO/IEC 13818-1 §2.4.3.6) with the optional header when
// the stream id has one. `pts` < 0: no PTS. `declaredLength` >= 0 replaces
// the PES_packet_length field (to build lying lengths).
Bytes Pes(uint8_t streamId, const Bytes& payload, int64_t pts = -1, int declaredLength = -1);
// A DVB subtitle PES (data_identifier 0x20, stream id 0) around segments.
Bytes DvbSubtitlePes(const Bytes& segments, int64_t pts = -1);

class TsBuilder {
public:
    // One section per packet run, starting with pointer_field 0.
    TsBuilder& AddSection(int pid, const Bytes& section);
    // Several sections back to back in as few packets as possible: sections
    // share packets, a new one may start mid-packet (pointer_field > 0).
    TsBuilder& AddSections(int pid, const std::vector<Bytes>& sections);
    // A PES cut into packets; the first carries payload_unit_start and, if
    // `pcr` >= 0, that PCR (90 kHz base) in its adaptation field.
    TsBuilder& AddPes(int pid, const Bytes& pes, int64_t pcr = -1);
    // An adaptation-field-only packet with a PCR.
    TsBuilder& AddPcr(int pid, int64_t pcr90k);
    TsBuilder& AddNull(int count = 1);
    // A hand-made packet (appended as given, padded or cut to 188 bytes).
    TsBuilder& AddRaw(const Bytes& packet);

    const Bytes& Data() const { return data_; }
    size_t PacketCount() const { return data_.size() / 188; }
    bool WriteTo(const std::string& path) const;

private:
    void Packet(int pid, bool unitStart, const uint8_t* payload, size_t size, int64_t pcr);
    std::map<int, int> cc_;
    Bytes data_;
};

struct WrapOptions {
    int pid = 0x100;
    int serviceId = 1;
    int pmtPid = 0x1000;
    int pcrPid = 0x101;
    // Descriptors of the PES stream's PMT entry (a subtitling or teletext
    // descriptor); stream_type 0x06.
    Bytes descriptors;
    // PCR runs this far behind the PTS of the packets (90 kHz).
    int64_t pcrLead = 45000;
    // PCR for packets before the first PTS, and for files without PTS.
    int64_t firstPcr = 900000;
    // The PES are spaced at least this far apart when they carry no PTS.
    int64_t spacing = 9000;
    // > 0: PAT, PMT and a PCR also this often (90 kHz) in the gaps between
    // the PES, as a broadcast repeats its tables; 0: only every 100 packets.
    int64_t psiInterval = 0;
};
// Wraps raw PES (00 00 01 xx packets back to back) into a TS: PAT and PMT
// first and every 100 packets, a PCR before each PES derived from its PTS.
Bytes WrapPes(const Bytes& rawPes, const WrapOptions& options);

Bytes ReadFile(const std::string& path);

}  // namespace ts
