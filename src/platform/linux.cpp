// Which backend the Linux agent uses is decided by the session it runs in.
#include <cstdio>
#include <cstdlib>

#include "platform/linux_backends.h"

namespace inputfeed {

// In a Wayland session the agent never falls back to XTEST: it would reach only
// the Xwayland windows. Whoever wants exactly that runs it without
// WAYLAND_DISPLAY.
std::unique_ptr<Platform> openPlatform() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland) return openX11Platform();
    std::string lacks;
    if (auto platform = openWaylandPlatform(lacks); platform || lacks.empty()) return platform;
    // GNOME offers its way in on the session bus instead.
    std::string gnome;
    if (auto platform = openGnomePlatform(gnome); platform || gnome.empty()) return platform;
    // Say which desktops work, and the X11 route with its limits.
    std::fprintf(stderr,
                 "inputfeed: the Wayland compositor on \"%s\" offers no way to post input: it "
                 "lacks %s and org_kde_kwin_fake_input (which KDE offers only to programs named "
                 "in a .desktop file), and %s. inputfeed posts on wlroots desktops (sway, "
                 "Hyprland, ...), KDE Plasma and GNOME; with WAYLAND_DISPLAY unset it posts "
                 "through Xwayland, reaching X applications only\n",
                 wayland, lacks.c_str(), gnome.c_str());
    return nullptr;
}

}  // namespace inputfeed
