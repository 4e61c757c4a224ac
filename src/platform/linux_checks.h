#pragma once

// The probes of the Linux backends, which check/linux.cpp puts together in the
// order the agent tries them. None posts or creates anything.

#include <optional>
#include <string>

namespace inputfeed {

// What a probe found of one backend.
struct Probe {
    std::optional<std::string> missing;  // why this session does not offer it; nothing if it does
    std::optional<std::string> problem;  // offered, but the agent could not post through it
};

// XTEST on the X server DISPLAY names (x11_check.cpp): nothing when it works,
// else the reason.
std::optional<std::string> checkX11();

// The compositor WAYLAND_DISPLAY names (wayland_check.cpp, or
// wayland_check_absent.cpp in a build without the Wayland libraries).
struct WaylandProbe {
    std::optional<std::string> unreachable;  // no compositor to ask, and why
    Probe wlroots;                           // virtual pointer and keyboard
    Probe kde;                               // fake input
};
WaylandProbe checkWayland();

// Mutter's remote-desktop interface on the session bus (gnome_check.cpp, or
// gnome_check_absent.cpp in a build without sd-bus).
Probe checkGnome();

}  // namespace inputfeed
