// The demultiplexer's PES filter that hands a PID's packets over as they
// come (linux/dvb/dmx.h), the same for every reader of a PID.
#pragma once

#include <linux/dvb/dmx.h>

#include <cstdint>
#include <cstring>

inline dmx_pes_filter_params PesTap(int pid) {
    dmx_pes_filter_params params;
    std::memset(&params, 0, sizeof params);
    params.pid = uint16_t(pid);
    params.input = DMX_IN_FRONTEND;
    params.output = DMX_OUT_TAP;
    params.pes_type = DMX_PES_OTHER;
    params.flags = DMX_IMMEDIATE_START;
    return params;
}
