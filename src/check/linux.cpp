// inputfeed-check on Linux: the backends in the order the agent tries them.
// In a Wayland session XTEST is never the answer, as the agent never falls back to it.
#include <cstdlib>

#include "platform/check.h"
#include "platform/linux_checks.h"

namespace inputfeed {

CheckReport checkPlatform() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland)
        return {"X11 through XTEST (WAYLAND_DISPLAY is not set)", checkX11()};

    const std::string session = "WAYLAND_DISPLAY is \"" + std::string(wayland) + '"';
    const WaylandProbe offer = checkWayland();
    if (offer.unreachable) return {"none (" + session + ")", offer.unreachable};
    if (!offer.wlroots.missing) {
        return {"Wayland, the wlroots virtual pointer and keyboard (" + session +
                    ", whose compositor offers them)",
                offer.wlroots.problem};
    }
    if (!offer.kde.missing) {
        return {"Wayland, KDE's fake input (" + session +
                    ", whose compositor offers it, not the wlroots protocols)",
                offer.kde.problem};
    }
    const Probe gnome = checkGnome();
    if (!gnome.missing) {
        return {"GNOME, Mutter's remote-desktop interface on the session bus (" + session +
                    ", whose compositor offers neither the wlroots protocols nor KDE's fake input)",
                gnome.problem};
    }
    return {"none (" + session + ")",
            "no way to post input: the compositor lacks " + *offer.wlroots.missing +
                " (wlroots) and " + *offer.kde.missing +
                " (KDE, which offers it only to programs named in a .desktop file); GNOME: " +
                *gnome.missing};
}

}  // namespace inputfeed
