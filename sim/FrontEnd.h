// The television front end's part, as the simulator plays it: it writes the
// hand-off file for the watched service (with tekoctl's atomic writer, so
// the daemon never reads half a file), and creates or removes the two flag
// files, each at its stream time. The files are the daemon's fixed paths,
// resolved through the installed platform backend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TsInfo.h"

struct FrontEndEvent {
    enum Kind { Zap, DisableOn, DisableOff, Reload };
    int64_t atMs = 0;
    Kind kind = Zap;
    int serviceId = 0;
};

class FrontEnd {
public:
    FrontEnd(const TsInfo& info, int aspect, bool playback);

    bool Tune(int serviceId);
    void SetDisabled(bool disabled);
    void RequestReload();

    void Schedule(const FrontEndEvent& event);
    // Applies every event due at `streamMs`, in time order. Returns how many.
    int Advance(int64_t streamMs);
    int CurrentService() const { return current_; }

private:
    const TsInfo& info_;
    int aspect_;
    bool playback_;
    int current_ = -1;
    std::vector<FrontEndEvent> events_;
};
