#include "TimedStream.h"

#include <string>

#include "support/DvbSubBuilder.h"
#include "support/TeletextBuilder.h"

namespace e2e {

ts::Bytes TimedStream::Build(int64_t durationMs) const {
    ts::TsBuilder b;
    ts::Bytes pat;
    {
        std::vector<ts::PatEntry> entries;
        for (const Service& s : services_) entries.push_back({s.serviceId, s.pmtPid});
        pat = ts::Pat(1, entries);
    }
    const int64_t base = 900000;  // 10 s, in 90 kHz
    const int64_t slots = durationMs / kSlotMs;
    for (int64_t slot = 0; slot < slots; ++slot) {
        const size_t before = b.PacketCount();
        for (const Service& s : services_) b.AddPcr(s.pcrPid, base + slot * kSlotMs * 90);
        if ((slot * kSlotMs) % 100 < kSlotMs) {
            b.AddSection(0, pat);
            for (const Service& s : services_) b.AddSection(s.pmtPid, ts::Pmt(uint16_t(s.serviceId), s.pcrPid, s.streams));
        }
        auto due = pes_.find(slot);
        if (due != pes_.end())
            for (const Scheduled& p : due->second) b.AddPes(p.pid, p.pes);
        while (b.PacketCount() - before < size_t(kPacketsPerSlot)) b.AddNull();
    }
    return b.Data();
}

ts::Bytes DvbSubtitle(int version, int timeoutSeconds) {
    using namespace dvbsub;
    Region region;
    region.regionId = 0;
    region.version = version & 15;
    region.fill = true;
    region.width = 200;
    region.height = 20;
    region.depth = 2;  // 4 bits a pixel
    region.clutId = 0;
    region.code4 = 1;
    region.objects = {{0, 0, 0}};
    PixelData field;
    for (int line = 0; line < 10; ++line) field.Line4({{50, 2}, {100, 1}, {50, 2}});
    return DisplaySetPes(Concat({
        PageComposition(1, timeoutSeconds, version & 15, 2, {{0, 260, 500}}),
        RegionComposition(1, region),
        ClutDefinition(1, 0, version & 15, {{1, 235, 128, 128, 0}, {2, 16, 128, 128, 0}}),
        ObjectData(1, 0, field.Data(), field.Data()),
        EndOfDisplaySet(1),
    }));
}

ts::Bytes PaddingPes() { return {0x00, 0x00, 0x01, 0xBE, 0x00, 0x01, 0xFF}; }

ts::Bytes TeletextPage(const std::string& text) {
    ttx::Header header;
    header.magazine = 8;
    header.page = 0x88;
    return ttx::Pes({ttx::DataUnit(ttx::HeaderPacket(header)), ttx::DataUnit(ttx::RowPacket(8, 20, ttx::SubtitleRow(text)))});
}

}  // namespace e2e
