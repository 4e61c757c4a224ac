// STUB: to be replaced by the real dry-run backend.
#include "platform/platform.h"

namespace inputfeed {
std::unique_ptr<Platform> openPlatform() { return nullptr; }
}  // namespace inputfeed
