// The consumer of a PES filter. Both operations run on the filter's reader
// thread, never at the same time.
#pragma once

#include <cstdint>

#include "demux/PESPacket.h"

class PESFilterUser {
public:
    // Consumes one packet (copy what is needed: the packet is deleted when
    // this returns). Returns the milliseconds after which Sync is wanted;
    // 0 asks for nothing and cancels a pending request.
    virtual int Receive(const PESPacket& packet) = 0;
    // The timed call-back, given the system time clock (90 kHz ticks).
    virtual int Sync(int64_t& stc) = 0;

protected:
    ~PESFilterUser() = default;
};
