// The agent on an X11 desktop: events are posted through the X server's XTEST
// extension, so they enter the server where its own input devices do.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XKBstr.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "events/key_event.h"
#include "platform/device_platform.h"
#include "platform/linux_backends.h"

namespace inputfeed {

namespace {

// X keycodes by virtual key; 0 marks a key this server lacks.
using KeycodeTable = std::array<unsigned char, kVirtualKeyLimit>;

// XKB names are four bytes, padded with NULs when shorter.
bool sameKeyName(const char (&xkbName)[XkbKeyNameLength], std::string_view name) {
    const auto length =
        static_cast<std::size_t>(std::find(xkbName, xkbName + XkbKeyNameLength, '\0') - xkbName);
    return std::string_view(xkbName, length) == name;
}

int keycodeNamed(const XkbDescRec& xkb, std::string_view name) {
    if (name.empty()) return 0;
    for (int kc = xkb.min_key_code; kc <= xkb.max_key_code; ++kc) {
        if (sameKeyName(xkb.names->keys[kc].name, name)) return kc;
    }
    // The name may be an alias of the one the keymap uses (e.g. LMTA for LWIN).
    for (int i = 0; i < xkb.names->num_key_aliases; ++i) {
        const XkbKeyAliasRec& alias = xkb.names->key_aliases[i];
        if (!sameKeyName(alias.alias, name)) continue;
        for (int kc = xkb.min_key_code; kc <= xkb.max_key_code; ++kc) {
            if (std::memcmp(xkb.names->keys[kc].name, alias.real, XkbKeyNameLength) == 0) {
                return kc;
            }
        }
    }
    return 0;
}

// Maps each virtual key onto the X keycode of the same physical key, by XKB key
// name, else by evdev code + 8 as evdev-based servers number keys. Where the
// server names its keys, that fallback is taken only for a keycode with no name:
// a named one is some other key, and pressing a wrong key is worse than none.
KeycodeTable resolveKeycodes(Display* display) {
    int minKeycode = 0;
    int maxKeycode = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);

    XkbDescPtr xkb = XkbGetMap(display, 0, XkbUseCoreKbd);
    if (xkb && XkbGetNames(display, XkbKeyNamesMask | XkbKeyAliasesMask, xkb) != Success) {
        XkbFreeKeyboard(xkb, 0, True);
        xkb = nullptr;
    }
    const bool haveNames = xkb && xkb->names && xkb->names->keys;

    KeycodeTable table{};
    for (const KeyName& key : macKeyCodes) {
        int keycode = 0;
        if (haveNames) {
            keycode = keycodeNamed(*xkb, key.xkbName);
            if (keycode == 0) keycode = keycodeNamed(*xkb, key.xkbAlias);
        }
        if (keycode == 0) {
            keycode = static_cast<int>(key.evdevCode) + 8;
            if (keycode < minKeycode || keycode > maxKeycode) {
                keycode = 0;
            } else if (haveNames &&
                       (keycode > xkb->max_key_code || xkb->names->keys[keycode].name[0] != '\0')) {
                keycode = 0;
            }
        }
        table[key.virtualKey] = static_cast<unsigned char>(keycode);
    }
    if (xkb) XkbFreeKeyboard(xkb, 0, True);
    return table;
}

// Round to nearest (halves away from zero), then clamp into the range of the
// 16-bit coordinates the XTEST request carries; a wider value would be wrapped
// on the wire, and converting an out-of-range double to int is undefined.
int toWireCoordinate(double value) {
    if (std::isnan(value)) return 0;
    constexpr double lowest = -32768.0;
    constexpr double highest = 32767.0;
    return static_cast<int>(std::clamp(std::round(value), lowest, highest));
}

bool pointerOnScreen(Display* display, int screen) {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int mask = 0;
    return XQueryPointer(display, RootWindow(display, screen), &root, &child, &rootX, &rootY, &x,
                         &y, &mask) != False;
}

// A server-side error about one request (say, a keycode another client just
// remapped away) must not end the agent; like every other failure it is silent.
int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

// Without the server nothing can ever be posted again, so say so and stop.
// Xlib would exit after this handler anyway.
int lostServer(Display* display) {
    std::fprintf(stderr, "inputfeed: lost the connection to the X server on \"%s\"\n",
                 DisplayString(display));
    std::_Exit(1);
}

class X11Platform final : public DevicePlatform {
public:
    explicit X11Platform(Display* display)
        : display_(display),
          screen_(DefaultScreen(display)),
          keycodes_(resolveKeycodes(display)),
          onOtherScreen_(!pointerOnScreen(display, screen_)) {}

    ~X11Platform() override {
        // Closing waits for the server to process everything sent so far.
        XCloseDisplay(display_);
    }

    X11Platform(const X11Platform&) = delete;
    X11Platform& operator=(const X11Platform&) = delete;

    // The requests wait in Xlib's output buffer until here, so a burst of lines
    // goes out in one write.
    void flush() override { XFlush(display_); }

    // Waited on with standard input: reading what the server sent is what makes
    // Xlib notice a closed connection (lostServer), even while no command comes.
    int connectionFd() const override { return ConnectionNumber(display_); }
    void dispatchIncoming() override {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
        }
    }

private:
    bool hasKey(VirtualKey virtualKey) const override {
        return virtualKey < keycodes_.size() && keycodes_[virtualKey] != 0;
    }

    void moveTo(double x, double y) override {
        const int wireX = toWireCoordinate(x);
        const int wireY = toWireCoordinate(y);
        // The server moves a fake motion on whichever screen holds the pointer,
        // whatever screen it names; so the first move takes the pointer across.
        if (onOtherScreen_) {
            XWarpPointer(display_, None, RootWindow(display_, screen_), 0, 0, 0, 0, wireX, wireY);
            onOtherScreen_ = false;
        }
        XTestFakeMotionEvent(display_, screen_, wireX, wireY, CurrentTime);
    }

    // X buttons: 1 left, 2 middle, 3 right.
    void button(Button which, bool down) override {
        XTestFakeButtonEvent(display_, static_cast<unsigned>(which) + 1, down ? True : False,
                             CurrentTime);
    }

    void key(VirtualKey virtualKey, bool down) override {
        XTestFakeKeyEvent(display_, keycodes_[virtualKey], down ? True : False, CurrentTime);
    }

    Display* display_;
    // Coordinates are pixels of this screen's root window: the screen DISPLAY
    // names (":0.1" is screen 1). With several monitors on one screen, as RandR
    // sets them up, that root window spans all of them.
    int screen_;
    KeycodeTable keycodes_;
    bool onOtherScreen_;  // the pointer is on another screen than screen_
};

}  // namespace

std::unique_ptr<Platform> openX11Platform() {
    // X11 knows no trust to wait for: without a display or XTEST nothing could
    // ever be posted, so the agent stops here rather than run to no effect.
    const char* name = std::getenv("DISPLAY");
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        if (name && *name) {
            std::fprintf(stderr, "inputfeed: cannot open display \"%s\"\n", name);
        } else {
            std::fputs("inputfeed: cannot open display (DISPLAY is not set)\n", stderr);
        }
        return nullptr;
    }
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        std::fprintf(stderr, "inputfeed: the X server on \"%s\" has no XTEST extension\n",
                     DisplayString(display));
        XCloseDisplay(display);
        return nullptr;
    }
    XSetErrorHandler(ignoreXError);
    XSetIOErrorHandler(lostServer);
    return std::make_unique<X11Platform>(display);
}

}  // namespace inputfeed
