// STUB: to be replaced by the real X11 backend.
#include "platform/platform.h"

namespace inputfeed {
std::unique_ptr<Platform> openPlatform() { return nullptr; }
}  // namespace inputfeed
