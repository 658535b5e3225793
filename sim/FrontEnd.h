// The television front end's part, as the simulator plays it: it writes the
// hand-off file for the watched service (with tekoctl's atomic writer, so
// the daemon never reads half a file), and creates or removes the two flag
// files, each at its stream time; it also raises signals in the daemon,
// as a box owner's kill would. The files are the daemon's fixed paths,
// resolved through the installed platform backend.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TsInfo.h"

struct FrontEndEvent {
    enum Kind { Zap, DisableOn, DisableOff, Reload, MenuOn, MenuOff, Signal };
    int64_t atMs = 0;
    Kind kind = Zap;
    int serviceId = 0;  // Zap; the menu's number for MenuOn and MenuOff; the signal's
};

class FrontEnd {
public:
    FrontEnd(const TsInfo& info, int aspect, bool playback);

    bool Tune(int serviceId);
    void SetDisabled(bool disabled);
    void RequestReload();

    // The front end's own drawing: called with a menu's number and whether
    // it is now up.
    using MenuPainter = std::function<void(int menu, bool up)>;
    void SetMenuPainter(MenuPainter painter) { painter_ = std::move(painter); }

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
    MenuPainter painter_;
};
