#include "dvbsub/DVBSubtitle.h"

#include "platform/Log.h"

DVBSubtitle::DVBSubtitle() { eDebug("DVBSubtitle created.\n"); }

// Frees the decoder's records (they are heap memory) without drawing.
DVBSubtitle::~DVBSubtitle() { subtitle_reset(&decoder); }

int DVBSubtitle::Start() {
    subtitle_reset(&decoder);
    decoder.screenEnabled = 0;
    decoder.maxShowTime = maxShowTime;
    eDebug("DVB Subtitle uses MaxShowTime: %d\n", decoder.maxShowTime);
    decoder.sink = sink;
    decoder.compositionPageId = compositionPageId;
    decoder.ancillaryPageId = ancillaryPageId;
    decoder.fallbackLogged = false;

    subtitle_screen_enable(&decoder, 1);
    return 0;
}

int DVBSubtitle::Stop() {
    eDebug("Stop DVBSubtitle\n");
    if (decoder.screenEnabled == 1) {
        subtitle_reset(&decoder);
        subtitle_screen_enable(&decoder, 0);
    }
    return 0;
}

int DVBSubtitle::Receive(const PESPacket& packet) {
    eTrace("--------- RECEIVE PES START ---------\n");
    decoder.nextPageTimeout = 0;
    subtitle_process_pes(&decoder, packet.data, packet.size);
    eTrace("---------  RECEIVE PES END  ---------\n");
    return decoder.nextPageTimeout * 1000;
}

int DVBSubtitle::Sync(int64_t& stc) {
    eTrace("Force CLEAR SCREEN.\n");
    subtitle_clear_screen(&decoder);
    return 0;
}
