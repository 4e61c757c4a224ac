#pragma once

// The Linux agent's two backends; linux.cpp chooses between them at run time.

#include <memory>

#include "platform/platform.h"

namespace inputfeed {

// XTEST on the X server DISPLAY names (x11.cpp).
std::unique_ptr<Platform> openX11Platform();

// The compositor WAYLAND_DISPLAY names (wayland.cpp, or wayland_absent.cpp in
// a build without the Wayland libraries).
std::unique_ptr<Platform> openWaylandPlatform();

}  // namespace inputfeed
