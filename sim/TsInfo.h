// What a front end knows of a recorded multiplex: its services from the
// PAT and their PMTs (video, audio, Teletext and subtitle PIDs, with the
// entries of their subtitling and teletext descriptors), their names from
// the SDT, and what the PES of each PID carry. The simulator plays the
// front end's part with it: it picks the service to watch and writes the
// hand-off file from these values; --list prints them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "PesScan.h"

// One entry of a subtitling (EN 300 468 §6.2.41) or teletext (§6.2.43)
// descriptor, as sent.
struct SubtitleEntry {
    std::string language;  // the ISO 639 code, printable characters only
    int type = 0;          // subtitling_type, or teletext_type
    int compositionPage = 0, ancillaryPage = 0;  // DVB
    int page = 0;  // Teletext: 0x100 to 0x8FF, magazine 0 written as 8
};

struct TsStream {
    int pid = 0;
    int streamType = 0;
    bool teletext = false;      // carries a teletext descriptor
    bool dvbSubtitles = false;  // carries a subtitling descriptor
    bool subtitlePages = false; // teletext descriptor lists a subtitle page
    std::vector<SubtitleEntry> entries;  // of the subtitling or teletext descriptors
};

struct TsService {
    int serviceId = 0;
    int pmtPid = 0;
    bool pmtSeen = false;
    std::string name;  // from the SDT's service descriptor; empty without one
    std::vector<TsStream> streams;

    int VideoPid() const;
    int AudioPid() const;
    int TeletextPid() const;
    bool HasSubtitles() const;
};

class TsInfo {
public:
    // Scans the file; false with `error` set when it is not a readable
    // transport stream (no packet, or most packets not followed by the next).
    bool Load(const std::string& path, std::string& error);
    bool LoadBytes(const std::vector<uint8_t>& data, const std::string& path, std::string& error);
    const std::vector<TsService>& Services() const { return services_; }
    const TsService* Find(int serviceId) const;
    // The first service of the PAT that carries subtitles, or null.
    const TsService* FirstWithSubtitles() const;
    bool HasPat() const { return patSeen_; }
    // The PIDs whose PES carry DVB subtitles or Teletext, and one of them.
    const std::vector<PesPid>& PesPids() const { return pesPids_; }
    const PesPid* FindPes(int pid) const;
    size_t PacketCount() const { return packets_; }
    // Bytes outside any packet (lost sync, a short tail), skipped up to the
    // next sync byte as the replay skips them.
    size_t SkippedBytes() const { return skipped_; }

private:
    void OnSection(int pid, const std::vector<uint8_t>& section);
    void ParsePat(const std::vector<uint8_t>& section);
    void ParsePmt(TsService& service, const std::vector<uint8_t>& section);
    void ParseSdt(const std::vector<uint8_t>& section);

    std::map<int, std::string> names_;  // service id -> SDT name
    std::vector<PesPid> pesPids_;
    std::vector<TsService> services_;
    bool patSeen_ = false;
    size_t packets_ = 0;
    size_t skipped_ = 0;
};
