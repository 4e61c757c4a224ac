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
#include "platform/platform.h"

namespace inputfeed {

// One created event, in the terms the X server understands.
struct PlatformEvent {
    enum class Kind : unsigned char { motion, button, key } kind = Kind::motion;
    bool down = false;
    unsigned int detail = 0;  // X button or X keycode
    int x = 0;
    int y = 0;
};

namespace {

// Where each virtual key sits on the keyboard: its XKB key name (the physical
// position, independent of the layout), an alternative name some keymaps use
// instead, and its Linux input-event code, which evdev-based servers offset by 8.
struct KeyPosition {
    VirtualKey virtualKey;
    std::string_view name;
    std::string_view altName;
    unsigned int evdevCode;
};

constexpr std::array<KeyPosition, 64> keyPositions{{
    {0x00, "AC01", "", 30},  {0x01, "AC02", "", 31},      {0x02, "AC03", "", 32},
    {0x03, "AC04", "", 33},  {0x04, "AC06", "", 35},      {0x05, "AC05", "", 34},
    {0x06, "AB01", "", 44},  {0x07, "AB02", "", 45},      {0x08, "AB03", "", 46},
    {0x09, "AB04", "", 47},  {0x0B, "AB05", "", 48},      {0x0C, "AD01", "", 16},
    {0x0D, "AD02", "", 17},  {0x0E, "AD03", "", 18},      {0x0F, "AD04", "", 19},
    {0x10, "AD06", "", 21},  {0x11, "AD05", "", 20},      {0x12, "AE01", "", 2},
    {0x13, "AE02", "", 3},   {0x14, "AE03", "", 4},       {0x15, "AE04", "", 5},
    {0x16, "AE06", "", 7},   {0x17, "AE05", "", 6},       {0x18, "AE12", "", 13},
    {0x19, "AE09", "", 10},  {0x1A, "AE07", "", 8},       {0x1B, "AE11", "", 12},
    {0x1C, "AE08", "", 9},   {0x1D, "AE10", "", 11},      {0x1E, "AD12", "", 27},
    {0x1F, "AD09", "", 24},  {0x20, "AD07", "", 22},      {0x21, "AD11", "", 26},
    {0x22, "AD08", "", 23},  {0x23, "AD10", "", 25},      {0x24, "RTRN", "", 28},
    {0x25, "AC09", "", 38},  {0x26, "AC07", "", 36},      {0x27, "AC11", "", 40},
    {0x28, "AC08", "", 37},  {0x29, "AC10", "", 39},      {0x2A, "BKSL", "AC12", 43},
    {0x2B, "AB08", "", 51},  {0x2C, "AB10", "", 53},      {0x2D, "AB06", "", 49},
    {0x2E, "AB07", "", 50},  {0x2F, "AB09", "", 52},      {0x30, "TAB", "", 15},
    {0x31, "SPCE", "", 57},  {0x32, "TLDE", "", 41},      {0x33, "BKSP", "", 14},
    {0x35, "ESC", "", 1},    {0x37, "LWIN", "LMTA", 125}, {0x38, "LFSH", "", 42},
    {0x3A, "LALT", "", 56},  {0x3B, "LCTL", "", 29},      {0x3C, "RTSH", "", 54},
    {0x3D, "RALT", "", 100}, {0x3E, "RCTL", "", 97},      {0x7B, "LEFT", "", 105},
    {0x7C, "RGHT", "", 106}, {0x7D, "DOWN", "", 108},     {0x7E, "UP", "", 103},
    {0x75, "DELE", "", 111},
}};

constexpr bool everyKeyHasAPosition() {
    for (const KeyName& key : macKeyCodes) {
        if (std::none_of(keyPositions.begin(), keyPositions.end(),
                         [&](const KeyPosition& p) { return p.virtualKey == key.virtualKey; })) {
            return false;
        }
    }
    return true;
}
static_assert(everyKeyHasAPosition(), "every key of macKeyCodes needs a keyboard position");

// Virtual keys are below 128; a keycode of 0 marks a key this server lacks.
using KeycodeTable = std::array<unsigned char, 128>;

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
    for (const KeyPosition& key : keyPositions) {
        int keycode = 0;
        if (haveNames) {
            keycode = keycodeNamed(*xkb, key.name);
            if (keycode == 0) keycode = keycodeNamed(*xkb, key.altName);
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

// X buttons: 1 left, 2 middle, 3 right.
unsigned int xButton(MouseButton button) {
    switch (button) {
        case kCGMouseButtonLeft: return 1;
        case kCGMouseButtonCenter: return 2;
        case kCGMouseButtonRight: return 3;
        default: return 0;
    }
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

class X11Platform final : public Platform {
public:
    explicit X11Platform(Display* display)
        : display_(display), screen_(DefaultScreen(display)), keycodes_(resolveKeycodes(display)) {}

    ~X11Platform() override {
        // Closing waits for the server to process everything sent so far.
        XCloseDisplay(display_);
    }

    X11Platform(const X11Platform&) = delete;
    X11Platform& operator=(const X11Platform&) = delete;

    // Nothing to ask on X11: any client of the display may use XTEST, and the
    // display was opened (and XTEST checked) before the agent started.
    void requestTrust() override {}

    EventRef createMouseEvent(EventType type, double x, double y, MouseButton button) override {
        PlatformEvent event;
        event.x = toWireCoordinate(x);
        event.y = toWireCoordinate(y);
        switch (type) {
            case kCGEventMouseMoved: event.kind = PlatformEvent::Kind::motion; break;
            case kCGEventLeftMouseDown:
            case kCGEventRightMouseDown:
            case kCGEventOtherMouseDown:
                event.kind = PlatformEvent::Kind::button;
                event.down = true;
                break;
            case kCGEventLeftMouseUp:
            case kCGEventRightMouseUp:
            case kCGEventOtherMouseUp: event.kind = PlatformEvent::Kind::button; break;
            default: return nullptr;
        }
        if (event.kind == PlatformEvent::Kind::button) {
            event.detail = xButton(button);
            if (event.detail == 0) return nullptr;
        }
        return take(event);
    }

    EventRef createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        if (virtualKey >= keycodes_.size() || keycodes_[virtualKey] == 0) return nullptr;
        PlatformEvent event;
        event.kind = PlatformEvent::Kind::key;
        event.down = keyDown;
        event.detail = keycodes_[virtualKey];
        return take(event);
    }

    // Queues the requests in Xlib's output buffer; flush() sends them, so a burst
    // of lines goes out in one write.
    void postEvent(EventRef event) override {
        if (event != &slot_ || !slotInUse_) return;
        const Bool down = event->down ? True : False;
        switch (event->kind) {
            case PlatformEvent::Kind::motion:
                XTestFakeMotionEvent(display_, screen_, event->x, event->y, CurrentTime);
                break;
            case PlatformEvent::Kind::button:
                // The press or release happens where the command says, so move first.
                XTestFakeMotionEvent(display_, screen_, event->x, event->y, CurrentTime);
                XTestFakeButtonEvent(display_, event->detail, down, CurrentTime);
                break;
            case PlatformEvent::Kind::key:
                XTestFakeKeyEvent(display_, event->detail, down, CurrentTime);
                break;
        }
    }

    void releaseEvent(EventRef event) override {
        if (event == &slot_) slotInUse_ = false;
    }

    void flush() override { XFlush(display_); }

private:
    // The agent holds at most one event at a time (create, post, release within
    // a line), so one reusable slot serves every event without allocating.
    EventRef take(const PlatformEvent& event) {
        if (slotInUse_) return nullptr;
        slot_ = event;
        slotInUse_ = true;
        return &slot_;
    }

    Display* display_;
    // Coordinates are pixels of this screen's root window: the screen DISPLAY
    // names (":0.1" is screen 1). With several monitors on one screen, as RandR
    // sets them up, that root window spans all of them.
    int screen_;
    KeycodeTable keycodes_;
    PlatformEvent slot_;
    bool slotInUse_ = false;
};

}  // namespace

std::unique_ptr<Platform> openPlatform() {
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
