#include "app/ContentProbe.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/ioctl.h>
// sys/ioctl.h first: the DVB header uses its request macros.
#include <linux/dvb/dmx.h>

#include <cstdint>
#include <cstring>

#include "demux/PesTap.h"
#include "platform/ByteReader.h"
#include "platform/Constants.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Platform.h"
#include "teletext/TeletextPackets.h"
#include "teletext/TeletextTables.h"

namespace {
// Reads of one poll: a bound on the main loop's time, far above what a
// subtitle PID sends in half a second.
constexpr int kReadsPerPoll = 64;
// EN 300 706 §7.1.2: packets 1-23 are the page's rows.
constexpr int kLastRow = 23;
}  // namespace

bool ContentProbe::StartDvb(int pid, int compositionPage) {
    dvb = true;
    wantedPage = compositionPage;
    return Start(pid);
}

bool ContentProbe::StartTeletext(int pid, int page) {
    dvb = false;
    wantedPage = page;
    return Start(pid);
}

bool ContentProbe::Start(int pid) {
    Stop();
    Reset();
    fd = platform::Open(paths::kDemux, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        fd = -1;
        eWarning("Probe: failed open(DMX)\n");
        return false;
    }
    // The size is the argument itself (linux/dvb/dmx.h); set before the
    // filter starts, as the kernel refuses it on a running filter.
    platform::Ioctl(fd, DMX_SET_BUFFER_SIZE, reinterpret_cast<void*>(uintptr_t(kBufferSize)));
    dmx_pes_filter_params params = PesTap(pid);
    if (platform::Ioctl(fd, DMX_SET_PES_FILTER, &params) < 0) {
        eWarning("Probe: failed ioctl(DMX_SET_PES_FILTER) on PID 0x%x\n", pid);
        Stop();
        return false;
    }
    return true;
}

void ContentProbe::Stop() {
    if (fd == -1) return;
    platform::Ioctl(fd, DMX_STOP, nullptr);
    platform::Close(fd);
    fd = -1;
}

void ContentProbe::Reset() {
    content = 0;
    warned = false;
    ResetSplitter();
    std::memset(magazinePage, 0, sizeof magazinePage);
    counted = false;
}

void ContentProbe::Poll() {
    unsigned char chunk[ids::kTsPacketSize * 16];
    for (int i = 0; fd != -1 && i < kReadsPerPoll; ++i) {
        const ssize_t n = platform::Read(fd, chunk, sizeof chunk);
        if (n > 0) {
            Feed(chunk, size_t(n));
            continue;
        }
        const int error = errno;
        if (n < 0 && error == EOVERFLOW) {
            // The buffer was thrown away: the packet being cut lost bytes.
            ResetSplitter();
            continue;
        }
        if (n < 0 && error != EAGAIN && error != EWOULDBLOCK && error != EINTR && !warned) {
            // Once a start: the main loop polls again every half second.
            eWarning("Probe: read failed: %s\n", strerror(error));
            warned = true;
        }
        return;
    }
}

void ContentProbe::Feed(const unsigned char* chunk, size_t size) {
    splitter.Feed(chunk, size, [this](const unsigned char* data, size_t n) { Packet(data, n); });
}

void ContentProbe::Packet(const unsigned char* data, size_t size) {
    if (dvb)
        DvbPacket(data, size);
    else
        TeletextPacket(data, size);
}

// EN 300 743 §7.1: after the PES header, data_identifier 0x20, stream id 0,
// then segments (sync byte, type, page_id, length, body) up to 0xFF.
void ContentProbe::DvbPacket(const unsigned char* data, size_t size) {
    ByteReader r(data, size);
    r.Skip(8);
    const uint8_t headerLength = r.U8();
    r.Skip(headerLength);
    if (r.U8() != ids::kDvbSubDataIdentifier || r.U8() != ids::kDvbSubStreamId) return;
    while (r.Ok() && r.PeekAt(0) == ids::kDvbSubSyncByte) {
        r.Skip(1);
        const uint8_t type = r.U8();
        const int pageId = r.U16();
        const size_t segmentLength = r.U16();
        if (!r.Skip(segmentLength)) return;
        // §7.2.1: time-out and version/state, then 6 bytes per region.
        if (type == ids::kSegPageComposition && (wantedPage < 0 || pageId == wantedPage) && segmentLength > 2)
            ++content;
    }
}

// A transmission of the wanted page with a row (EN 300 706 §7.1.2: packets
// 1-23) holding a printable character.
void ContentProbe::TeletextPacket(const unsigned char* data, size_t size) {
    teletext::ForEachPacket(data, size, [this](const uint8_t* raw) {
        int magazine, row;
        if (!teletext::PacketAddress(raw, magazine, row)) return;
        if (row == 0) {
            int page;
            if (!teletext::HeaderPage(raw, magazine, page)) return;
            magazinePage[magazine] = page;
            if (page == wantedPage) counted = false;
            return;
        }
        if (row > kLastRow || magazine != wantedPage >> 8 || magazinePage[magazine] != wantedPage || counted) return;
        for (int k = 2; k < teletext::kPacketBytes; ++k) {
            const uint8_t c = teletext::OddParityOfTransmitted(raw[k]);
            if (c > ' ' && c < 0x7F) {
                ++content;
                counted = true;
                return;
            }
        }
    });
}
