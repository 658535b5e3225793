#include "platform/Signals.h"
#include "FrontEnd.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "TekoCtl.h"
#include "platform/Paths.h"
#include "platform/Platform.h"

FrontEnd::FrontEnd(const TsInfo& info, int aspect, bool playback)
    : info_(info), aspect_(aspect), playback_(playback) {}

bool FrontEnd::Tune(int serviceId) {
    const TsService* service = info_.Find(serviceId);
    if (!service) return false;
    const int values[7] = {service->serviceId, service->VideoPid(), service->AudioPid(), service->TeletextPid(),
                           aspect_, playback_ ? 1 : 0, service->pmtPid};
    if (!WriteHandOff(values).empty()) return false;
    current_ = serviceId;
    return true;
}

void FrontEnd::SetDisabled(bool disabled) {
    std::string flag = platform::Resolve(paths::kDisableFlag);
    if (disabled) {
        std::ofstream touch(flag, std::ios::app);
    } else {
        unlink(flag.c_str());
    }
}

void FrontEnd::RequestReload() { std::ofstream touch(platform::Resolve(paths::kReloadFlag), std::ios::app); }

void FrontEnd::Schedule(const FrontEndEvent& event) {
    events_.push_back(event);
    std::stable_sort(events_.begin(), events_.end(),
                     [](const FrontEndEvent& a, const FrontEndEvent& b) { return a.atMs < b.atMs; });
}

int FrontEnd::Advance(int64_t streamMs) {
    int applied = 0;
    while (!events_.empty() && events_.front().atMs <= streamMs) {
        FrontEndEvent event = events_.front();
        events_.erase(events_.begin());
        switch (event.kind) {
            case FrontEndEvent::Zap: Tune(event.serviceId); break;
            case FrontEndEvent::DisableOn: SetDisabled(true); break;
            case FrontEndEvent::DisableOff: SetDisabled(false); break;
            case FrontEndEvent::Reload: RequestReload(); break;
            case FrontEndEvent::Signal: platform::RaiseSignal(event.serviceId); break;
            case FrontEndEvent::MenuOn:
            case FrontEndEvent::MenuOff:
                if (painter_) painter_(event.serviceId, event.kind == FrontEndEvent::MenuOn);
                break;
        }
        ++applied;
    }
    return applied;
}
