#include "FrontEnd.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/Paths.h"

FrontEnd::FrontEnd(std::string root, const TsInfo& info, int aspect, bool playback)
    : root_(std::move(root)), info_(info), aspect_(aspect), playback_(playback) {}

std::string FrontEnd::HandOff(const TsService& service, int aspect, bool playback) {
    std::string text;
    for (int value : {service.serviceId, service.VideoPid(), service.AudioPid(), service.TeletextPid(),
                      aspect, playback ? 1 : 0, service.pmtPid}) {
        text += std::to_string(value) + "\n";
    }
    return text;
}

void FrontEnd::WriteAtomically(const std::string& fixedPath, const std::string& text) const {
    std::string target = root_ + fixedPath;
    std::string temporary = target + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    rename(temporary.c_str(), target.c_str());
}

bool FrontEnd::Tune(int serviceId) {
    const TsService* service = info_.Find(serviceId);
    if (!service) return false;
    WriteAtomically(paths::kHandOff, HandOff(*service, aspect_, playback_));
    current_ = serviceId;
    return true;
}

void FrontEnd::SetDisabled(bool disabled) {
    std::string flag = root_ + paths::kDisableFlag;
    if (disabled) {
        std::ofstream touch(flag, std::ios::app);
    } else {
        unlink(flag.c_str());
    }
}

void FrontEnd::RequestReload() { std::ofstream touch(root_ + paths::kReloadFlag, std::ios::app); }

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
        }
        ++applied;
    }
    return applied;
}
