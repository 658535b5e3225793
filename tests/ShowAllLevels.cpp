// Linked into every test program: the unit tests read the decoders' trace,
// so they show every level, as tekod-sim does by default. Constant
// initialisation of the level makes this safe before main.
#include "platform/Log.h"

namespace {

const bool kAllLevelsShown = (platform::SetLogLevel(platform::LogLevel::kDebug), true);

}  // namespace
