// inputfeed-check built without the Wayland libraries, like the agent it checks.
#include "platform/linux_checks.h"

namespace inputfeed {

WaylandProbe checkWayland() {
    return {
        "this build has no Wayland support (unset WAYLAND_DISPLAY to post through X11)", {}, {}};
}

}  // namespace inputfeed
