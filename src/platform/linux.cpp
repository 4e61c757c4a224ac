// Which backend the Linux agent uses is decided by the session it runs in.
#include <cstdlib>

#include "platform/linux_backends.h"

namespace inputfeed {

// In a Wayland session the agent never falls back to XTEST: it would reach only
// the Xwayland windows. Whoever wants exactly that runs it without
// WAYLAND_DISPLAY.
std::unique_ptr<Platform> openPlatform() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) return openWaylandPlatform();
    return openX11Platform();
}

}  // namespace inputfeed
