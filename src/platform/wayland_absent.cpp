// The Linux agent built without the Wayland libraries.
#include <cstdio>

#include "platform/linux_backends.h"

namespace inputfeed {

std::unique_ptr<Platform> openWaylandPlatform(std::string&) {
    std::fputs(
        "inputfeed: this build has no Wayland support (WAYLAND_DISPLAY is set; unset it to "
        "post through X11)\n",
        stderr);
    return nullptr;
}

}  // namespace inputfeed
