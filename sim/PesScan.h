// What the PES of each PID carry, told by their data identifier rather
// than by a PMT (a capture may have none): DVB subtitles (EN 300 743 §7.1,
// data_identifier 0x20) with the page ids of their page composition
// segments, or EBU Teletext (EN 300 472 §4.3, 0x10 to 0x1F) with the
// magazine and page of each page header (EN 300 706 §9.3.1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

struct TsPacketInfo;

struct PesPid {
    int pid = 0;
    bool teletext = false;        // else DVB subtitles
    size_t pes = 0;               // PES packets seen with subtitle data
    std::vector<int> pageIds;     // DVB: page ids of page compositions, first seen first
    std::set<int> pages;          // Teletext: pages of the headers, 0x100 to 0x8FF (magazine 0 as 8)
    std::set<int> subtitlePages;  // the ones whose header sets C6 (subtitle)
};

class PesScan {
public:
    // PES bytes kept of one packet at most: a PES_packet_length maximum.
    static constexpr size_t kMaxPes = 65535 + 6;

    void Feed(const TsPacketInfo& packet);
    // Ends the PES in progress (the end of the capture).
    void Finish();
    // The PIDs with subtitle data, in PID order.
    std::vector<PesPid> Pids() const;
    // Parses one whole PES packet of `pid`.
    void OnPes(int pid, const uint8_t* data, size_t size);

private:
    void ParseDvb(PesPid& out, const uint8_t* data, size_t size);
    void ParseTeletext(PesPid& out, const uint8_t* data, size_t size);

    std::map<int, std::vector<uint8_t>> open_;  // PES in progress of each PID
    std::map<int, PesPid> found_;
};
