// The channel list "/etc/TEKO.channels" on arbitrary bytes, asked for two
// services of the shipped examples: a list without the entry leaves the
// caller's PID and page as they were.
#include <cstdint>
#include <cstdlib>

#include "FileRoot.h"
#include "app/ChannelList.h"
#include "platform/Paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzroot::Write(paths::kChannels, data, size);
    const struct {
        int sid;
        const char* language;
    } asks[] = {{0x3e8, "swe"}, {0x3e9, "eng"}};
    for (const auto& ask : asks) {
        int pid = -7, page = -7;
        if (CheckExternalChannels(ask.sid, ask.language, pid, page) == 0 && (pid != -7 || page != -7)) abort();
    }
    return 0;
}
