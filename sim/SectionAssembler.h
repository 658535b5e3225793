// Transport-packet parsing for the emulated demultiplexer: the packet
// header (ISO/IEC 13818-1 §2.4.3.2), the payload as the Linux software demux
// computes it, PCR and PTS, and the reassembly of PSI sections from the
// packets of one PID as the kernel's section feed does it (dvb_demux.c):
// pointer_field on payload_unit_start, several sections per packet, a
// section spanning packets, 0xFF stuffing, a continuity error or the
// discontinuity indicator dropping the section in progress, and only
// sections that begin after the feed was (re)started delivered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct TsPacketInfo {
    int pid = 0;
    bool unitStart = false;
    bool discontinuity = false;  // adaptation field discontinuity_indicator
    int continuity = 0;
    const uint8_t* payload = nullptr;  // nullptr when the packet has none
    size_t payloadSize = 0;
    int64_t pcr = -1;  // PCR base (90 kHz), -1 when absent
};

// Where the next transport packet begins at or after `pos`: at a sync byte
// 0x47 with a whole packet behind it. Where sync is lost (a packet should
// start but the byte is not 0x47), the search goes on at the next 0x47, as
// a demultiplexer resynchronises. `size` when no packet is left. The replay
// and the service scan find packets by this one rule.
size_t NextTsPacket(const uint8_t* data, size_t size, size_t pos);
// Parses a 188-byte packet; false when the sync byte is wrong. A packet
// whose adaptation field claims more than the packet holds has no payload
// (as the kernel's payload() rules).
bool ParseTsPacket(const uint8_t* packet, TsPacketInfo& info);
// PTS of the PES packet that starts in this payload, or -1.
int64_t PesPtsOf(const uint8_t* payload, size_t size);
// ISO/IEC 13818-1 Annex A CRC-32 over a whole section (0 when it is intact).
uint32_t SectionCrc32(const uint8_t* data, size_t size);

class SectionAssembler {
public:
    using Callback = std::function<void(const uint8_t* section, size_t size)>;
    // Maximum section size delivered (private sections, ISO/IEC 13818-1).
    static constexpr size_t kMaxSection = 4096;

    // Forgets any section in progress; the next section start is awaited.
    void Reset();
    void Feed(const TsPacketInfo& packet, const Callback& onSection);

private:
    void NewSection();
    void Append(const uint8_t* data, size_t size, const Callback& onSection);

    std::vector<uint8_t> buf_;
    size_t pos_ = 0;       // first byte not yet delivered
    bool started_ = false; // a payload_unit_start was seen since Reset
    int lastCc_ = -1;
};
