// Fuzzes the DVB subtitle decoder with any bytes, over several packets so
// that records carry over from one to the next, its pages drawn on the checking
// display (one byte or 32 bits a pixel), which aborts on any write outside
// the 720 x 576 screen, a blit outside the lock or an unbalanced lock.
//
// Input: 1 byte of set-up, then PES packets, each preceded by its size as
// two bytes (big-endian; cut to what is left).
//   byte 0: bit 0 screen enabled, bit 1 a foreign pixel in the centre
//           column, bit 2 clear (as at a time-out) after every packet,
//           bits 3-5 maxShowTime, bit 6 a 32-bit screen, bit 7 only
//           composition page 1 with ancillary page 3
#include <cstdint>
#include <cstring>
#include <memory>

#include "dvbsub/CheckingDisplay.h"
#include "dvbsub/subtitle.h"
#include "render/Presenter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static CheckingDisplay* bytes = new CheckingDisplay(true);
    static CheckingDisplay* words = new CheckingDisplay(true, 32);
    CheckingDisplay* display = data[0] & 0x40 ? words : bytes;
    display->Reset();
    render::Presenter presenter;
    presenter.dvb.Start(display, config::DvbOptions());
    subtitle_ctx ctx;
    ctx.sink = &presenter;
    ctx.screenEnabled = data[0] & 1;
    if (data[0] & 2) {
        display->plane[100][360] = 1;
        if (display->bpp == 32) display->words[100 * kScreenWidth + 360] = 0xFF000000u;
    }
    const bool clearEach = data[0] & 4;
    ctx.maxShowTime = (data[0] >> 3) & 7;
    if (data[0] & 0x80) {
        ctx.compositionPageId = 1;
        ctx.ancillaryPageId = 3;
    }
    size_t pos = 1;
    while (pos < size) {
        size_t length = pos + 2 <= size ? size_t(data[pos] << 8 | data[pos + 1]) : 0;
        pos += 2;
        if (pos > size) break;
        if (length > size - pos) length = size - pos;
        // An exact copy, so that any read past the packet is caught.
        std::unique_ptr<unsigned char[]> packet(new unsigned char[length ? length : 1]);
        if (length) std::memcpy(packet.get(), data + pos, length);
        ctx.nextPageTimeout = 0;
        subtitle_process_pes(&ctx, packet.get(), int(length));
        if (clearEach) subtitle_clear_screen(&ctx);
        pos += length;
    }
    subtitle_screen_enable(&ctx, 0);
    subtitle_reset(&ctx);
    if (ctx.pixelBytes != 0) abort();
    return 0;
}
