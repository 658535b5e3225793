// One complete PES packet, from its 00 00 01 start code to its last byte,
// with its release stamp in 90 kHz ticks (0: release at the next chance).
// Created and deleted by the PES filter; lent to the user during Receive.
#pragma once

#include <cstdint>

struct PESPacket {
    int64_t pts = 0;
    unsigned char* data = nullptr;
    int size = 0;
};
