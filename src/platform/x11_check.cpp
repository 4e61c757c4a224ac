// inputfeed-check on X11: the display opens and has XTEST, as the agent needs.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>

#include "platform/linux_checks.h"

namespace inputfeed {

std::optional<std::string> checkX11() {
    const char* name = std::getenv("DISPLAY");
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        if (name && *name) return "cannot open display \"" + std::string(name) + '"';
        return "cannot open display (DISPLAY is not set)";
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    std::optional<std::string> problem;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        problem = "the X server on \"" + std::string(DisplayString(display)) +
                  "\" has no XTEST extension";
    }
    XCloseDisplay(display);
    return problem;
}

}  // namespace inputfeed
