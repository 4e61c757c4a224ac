#pragma once

// The Linux agent's backends; linux.cpp chooses between them at run time.

#include <memory>
#include <string>

#include "platform/platform.h"

namespace inputfeed {

// XTEST on the X server DISPLAY names (x11.cpp).
std::unique_ptr<Platform> openX11Platform();

// The compositor WAYLAND_DISPLAY names (wayland.cpp, or wayland_absent.cpp in
// a build without the Wayland libraries). When it offers neither the wlroots
// devices nor KDE's fake input, returns null having said nothing, with
// `missing` naming what it lacks; on other failures it has said why.
std::unique_ptr<Platform> openWaylandPlatform(std::string& missing);

// Mutter's remote-desktop interface on the session bus (gnome.cpp, or
// gnome_absent.cpp in a build without sd-bus). When the bus or the interface
// is not there, returns null having said nothing, with `missing` saying so.
std::unique_ptr<Platform> openGnomePlatform(std::string& missing);

}  // namespace inputfeed
