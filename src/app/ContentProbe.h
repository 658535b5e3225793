// A cheap look at a subtitle stream that is not being decoded: a second PES
// filter on its PID, read without blocking from the main loop, that counts
// the times the stream brings something to show. DVB: page compositions of
// its page that list regions (EN 300 743 §7.2.1; one without regions is a
// clear). Teletext: transmissions of its page with a row holding a
// printable character (EN 300 706 §7.1, §9.3; a page without is a clear).
// Nothing is decoded further, and no thread is started.
#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/PesSplitter.h"

class ContentProbe {
public:
    ContentProbe() = default;
    ~ContentProbe() { Stop(); }
    ContentProbe(const ContentProbe&) = delete;
    ContentProbe& operator=(const ContentProbe&) = delete;

    // `compositionPage` -1: any page of the PID. `page`: magazine and page,
    // 0x888 for page 888. False when the demultiplexer refused the filter.
    bool StartDvb(int pid, int compositionPage);
    bool StartTeletext(int pid, int page);
    void Stop();
    bool Running() const { return fd != -1; }

    // Takes what the demultiplexer holds now (a bounded amount).
    void Poll();
    // The times something to show came since the start.
    int ContentCount() const { return content; }

    // The PES byte stream as read from the filter; public for the fuzzer.
    void Feed(const unsigned char* chunk, size_t size);
    // Back to hunting for a start code.
    void ResetSplitter() { splitter.Reset(); }

    // The demultiplexer's buffer for the probe: more than a full-rate
    // Teletext PID sends between two polls of the main loop.
    static constexpr unsigned long kBufferSize = 64 * 1024;
    // Only the first bytes of a packet are looked at: a DVB display set
    // starts with its page composition, and Teletext PES are far smaller.
    static constexpr size_t kKeptBytes = 4096;

private:
    bool Start(int pid);
    void Reset();
    void Packet(const unsigned char* data, size_t size);
    void DvbPacket(const unsigned char* data, size_t size);
    void TeletextPacket(const unsigned char* data, size_t size);

    int fd = -1;
    bool dvb = false;
    int wantedPage = -1;
    int content = 0;
    bool warned = false;

    PesSplitter<kKeptBytes> splitter;

    // Teletext: the page each magazine (index 1-8) is sending, and whether
    // the wanted page's current transmission was counted already.
    int magazinePage[9] = {};
    bool counted = false;
};
