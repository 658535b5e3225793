// The DVB subtitle client: the PES filter's user for a DVB subtitle stream.
// Each packet goes to the decoder, which hands a page over at the end of a
// display set; Receive returns the page time-out, after which Sync clears
// the subtitle.
#pragma once

#include <cstdint>

#include "demux/PESFilterUser.h"
#include "dvbsub/subtitle.h"
#include "pages/Page.h"

class DVBSubtitle : public PESFilterUser {
public:
    DVBSubtitle();
    int Receive(const PESPacket& packet) override;
    int Sync(int64_t& stc) override;
    virtual ~DVBSubtitle();

    // Called with the options above and `sink` set, before the packets flow.
    int Start();
    // Called after the packets have stopped; clears what was drawn.
    int Stop();

    int maxShowTime = 0;  // "DVBMaxShowTime": seconds a page may stay at most; 0: no bound
    pages::PageSink* sink = nullptr;  // where the pages go
    // The pages of the chosen subtitling descriptor entry, set with the
    // pointers; -1 shows every page of the PID.
    int compositionPageId = -1;
    int ancillaryPageId = -1;
    subtitle_ctx decoder;
};
