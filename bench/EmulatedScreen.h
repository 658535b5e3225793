// The framebuffer device created on the emulated 720 x 576 framebuffer of
// the simulator, with DejaVu Sans as the daemon's font in a temporary root
// (removed again): what the display and DVB benchmarks draw into.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "EmulatedFrameBuffer.h"
#include "SimBackend.h"
#include "SimClock.h"
#include "display/FrameBufferDevice.h"
#include "platform/Paths.h"

namespace bench {

class EmulatedScreen {
public:
    EmulatedScreen() : backend_(MakeRoot(), clock_) {
        platform::Install(&backend_);
        backend_.Attach(paths::kFrameBuffer, &fb_);
        ok_ = device.Create(paths::kDefaultFont) == 0;
    }
    ~EmulatedScreen() {
        device.Destroy();
        platform::Install(nullptr);
        std::string command = "rm -rf '" + backend_.Root() + "'";
        if (system(command.c_str()) != 0) {
        }
    }
    bool Ok() const { return ok_; }
    EmulatedFrameBuffer& Fb() { return fb_; }
    FrameBufferDevice device;

private:
    static std::string MakeRoot() {
        char pattern[] = "/tmp/teko-bench-XXXXXX";
        std::string root = mkdtemp(pattern);
        for (const char* dir : {"/usr", "/usr/share", "/usr/share/fonts"}) {
            mkdir((root + dir).c_str(), 0755);
        }
        std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
        std::ofstream out(root + paths::kDefaultFont, std::ios::binary);
        out << in.rdbuf();
        return root;
    }
    SimClock clock_;
    SimBackend backend_;
    EmulatedFrameBuffer fb_;
    bool ok_ = false;
};

}  // namespace bench
