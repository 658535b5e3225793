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
#include "teletext/TeletextTables.h"

namespace {
// Reads of one poll: a bound on the main loop's time, far above what a
// subtitle PID sends in half a second.
constexpr int kReadsPerPoll = 64;
// EN 300 706 §7.1.2: packets 1-23 are the page's rows.
constexpr int kLastRow = 23;
constexpr int kRowCharacters = 40;
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

// EN 300 472 §4: data units on a 46-byte stride from the packet's start;
// EN 300 706 §7.1.2: the magazine and packet address, Hamming 8/4.
void ContentProbe::TeletextPacket(const unsigned char* data, size_t size) {
    const int wantedMagazine = wantedPage >> 8;
    ByteReader reader(data, size);
    while (reader.Remaining() >= size_t(ids::kEbuDataUnitStride)) {
        ByteReader unit = reader.Sub(ids::kEbuDataUnitStride);
        const uint8_t id = unit.U8();
        if ((id != ids::kDataUnitTeletextNonSubtitle && id != ids::kDataUnitTeletextSubtitle) ||
            unit.U8() != ids::kEbuDataUnitLength)
            continue;
        unit.Skip(2);  // field parity / line offset, framing code
        const uint8_t a = teletext::Hamming84OfTransmitted(unit.U8());
        const uint8_t b = teletext::Hamming84OfTransmitted(unit.U8());
        if (a == teletext::kHammingError || b == teletext::kHammingError) continue;
        const int magazine = (a & 7) == 0 ? 8 : (a & 7);
        const int row = (a >> 3) | (b << 1);
        if (row == 0) {
            const uint8_t units = teletext::Hamming84OfTransmitted(unit.U8());
            const uint8_t tens = teletext::Hamming84OfTransmitted(unit.U8());
            if (units == teletext::kHammingError || tens == teletext::kHammingError) continue;
            magazinePage[magazine] = (magazine << 8) | (tens << 4) | units;
            if (magazinePage[magazine] == wantedPage) counted = false;
            continue;
        }
        if (row > kLastRow || magazine != wantedMagazine || magazinePage[magazine] != wantedPage || counted) continue;
        for (int k = 0; k < kRowCharacters; ++k) {
            const uint8_t c = teletext::OddParityOfTransmitted(unit.U8());
            if (c > ' ' && c < 0x7F) {
                ++content;
                counted = true;
                break;
            }
        }
    }
}
