// The daemon's fixed file and device paths. They are resolved through the
// platform layer (platform::Resolve) before use.
#pragma once

namespace paths {

constexpr const char* kConfig = "/etc/TEKO.conf";
constexpr const char* kChannels = "/etc/TEKO.channels";
constexpr const char* kTranslation = "/etc/TEKO.translation";
constexpr const char* kHandOff = "/tmp/TEKO.tmp";
constexpr const char* kDisableFlag = "/tmp/.TEKO_Disable";
constexpr const char* kReloadFlag = "/tmp/.TEKO_Reload";
// The one-instance lock, with the daemon's pid.
constexpr const char* kPidFile = "/run/tekod.pid";
constexpr const char* kDefaultFont = "/usr/share/fonts/md_khmurabi_10.ttf";
// Tried in this order when the configured font is missing: the fonts of
// the package's dependency fonts-dejavu-core.
constexpr const char* kFallbackFonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                          "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"};
constexpr const char* kDemux = "/dev/dvb/adapter0/demux0";
constexpr const char* kFrameBuffer = "/dev/fb/0";

}  // namespace paths
