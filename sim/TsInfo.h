// What a front end knows of a recorded multiplex: its services from the
// PAT and their PMTs (video, audio, Teletext and subtitle PIDs). The
// simulator plays the front end's part with it: it picks the service to
// watch and writes the hand-off file from these values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TsStream {
    int pid = 0;
    int streamType = 0;
    bool teletext = false;      // carries a teletext descriptor
    bool dvbSubtitles = false;  // carries a subtitling descriptor
    bool subtitlePages = false; // teletext descriptor lists a subtitle page
};

struct TsService {
    int serviceId = 0;
    int pmtPid = 0;
    bool pmtSeen = false;
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
    const std::vector<TsService>& Services() const { return services_; }
    const TsService* Find(int serviceId) const;
    // The first service of the PAT that carries subtitles, or null.
    const TsService* FirstWithSubtitles() const;
    size_t PacketCount() const { return packets_; }
    // Bytes outside any packet (lost sync, a short tail), skipped up to the
    // next sync byte as the replay skips them.
    size_t SkippedBytes() const { return skipped_; }

private:
    void OnSection(int pid, const std::vector<uint8_t>& section);
    void ParsePat(const std::vector<uint8_t>& section);
    void ParsePmt(TsService& service, const std::vector<uint8_t>& section);

    std::vector<TsService> services_;
    bool patSeen_ = false;
    size_t packets_ = 0;
    size_t skipped_ = 0;
};
