// The agent on Windows: events go through SendInput into the system's input
// stream, where the keyboard and mouse drivers' input enters, so low-level hooks
// and every application see them as typed and clicked.
//
// What Windows refuses and no code here can change: input into a window of a
// higher integrity level (an elevated window ignores a non-elevated agent),
// input while the secure desktop is shown (UAC prompt, lock screen), and the
// foreground rules that decide which window receives keys. SendInput reports
// none of these, so the agent, as on every platform, stays silent.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "events/key_event.h"
#include "platform/event_slot.h"
#include "platform/platform.h"

namespace inputfeed {

namespace {

// One created event: the INPUT records one SendInput call posts.
struct WindowsEvent {
    std::array<INPUT, 2> inputs{};
    UINT count = 0;
};

// How each key is sent: its set-1 scan code, whether it carries the E0 prefix,
// and for E0 keys a fixed virtual key. Layouts may remap the VK of an E0 key's
// plain twin (left Alt vs AltGr, numpad vs arrows), so those are given
// side-specific and exact rather than looked up.
struct WindowsKey {
    WORD scan = 0;
    bool extended = false;
    WORD fixedVk = 0;
};

constexpr WORD extendedKeyVk(std::uint16_t scanCode) {
    switch (scanCode) {
        case 0xE05B: return VK_LWIN;
        case 0xE038: return VK_RMENU;
        case 0xE01D: return VK_RCONTROL;
        case 0xE04B: return VK_LEFT;
        case 0xE04D: return VK_RIGHT;
        case 0xE050: return VK_DOWN;
        case 0xE048: return VK_UP;
        case 0xE053: return VK_DELETE;
        default: return 0;
    }
}

constexpr auto windowsKeys = [] {
    std::array<WindowsKey, kVirtualKeyLimit> keys{};
    for (const KeyName& key : macKeyCodes) {
        WindowsKey& entry = keys[key.virtualKey];
        entry.scan = static_cast<WORD>(key.scanCode & 0xFF);
        entry.extended = (key.scanCode >> 8) == 0xE0;
        if (entry.extended) {
            entry.fixedVk = extendedKeyVk(key.scanCode);
            if (entry.fixedVk == 0) throw "an E0 key has no virtual key";
        } else if (key.scanCode > 0x7F || key.scanCode == 0) {
            throw "not a set-1 scan code";
        }
    }
    return keys;
}();

// The virtual-desktop rectangle: the bounding box of every monitor, in physical
// pixels (the process is per-monitor DPI aware through its manifest), with the
// primary monitor's top-left at (0, 0). Read for every event, so a monitor added
// or a resolution changed takes effect from the next line on.
struct Span {
    int origin;
    int extent;
};

// Rounds half away from zero, clamps into the span, and normalises to the
// middle of the pixel's share of 0..65535, which Windows maps back onto exactly
// that pixel. Clamping comes first: a value outside the span would wrap.
LONG normalise(double value, Span span) {
    if (span.extent <= 0) return 0;
    const double rounded = std::isnan(value) ? 0.0 : std::round(value);
    const auto first = static_cast<double>(span.origin);
    const double last = first + span.extent - 1;
    const auto pixel = static_cast<std::int64_t>(std::clamp(rounded, first, last));
    const std::int64_t offset = pixel - span.origin;
    return static_cast<LONG>((2 * offset + 1) * 65536 / (2 * std::int64_t{span.extent}));
}

// The button flag of a press or release, or 0 for a move; MAXDWORD for neither.
DWORD buttonFlag(EventType type, MouseButton button) {
    const MouseAction action = mouseAction(type);
    if (action == MouseAction::none) return MAXDWORD;
    if (action == MouseAction::move) return 0;
    const bool down = action == MouseAction::press;
    switch (button) {
        case kCGMouseButtonLeft: return down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
        case kCGMouseButtonRight: return down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
        case kCGMouseButtonCenter: return down ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_MIDDLEUP;
        default: return MAXDWORD;
    }
}

class WindowsPlatform final : public Platform {
public:
    // Windows has no permission to ask for: SendInput is open to every process
    // on the interactive desktop, within the limits described at the top.
    void requestTrust() override {}

    EventRef createMouseEvent(EventType type, double x, double y, MouseButton button) override {
        const DWORD flag = buttonFlag(type, button);
        if (flag == MAXDWORD) return nullptr;
        WindowsEvent event;
        MOUSEINPUT& move = event.inputs[0].mi;
        event.inputs[0].type = INPUT_MOUSE;
        move.dx = normalise(
            x, {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN)});
        move.dy = normalise(
            y, {GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)});
        move.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
        event.count = 1;
        // The button goes in an INPUT of its own after the move: combined into
        // one, a window may see the press at the previous pointer position.
        if (flag != 0) {
            event.inputs[1].type = INPUT_MOUSE;
            event.inputs[1].mi.dwFlags = flag;
            event.count = 2;
        }
        return slot_.take(event);
    }

    // Scan code and VK together: a scan code alone (KEYEVENTF_SCANCODE) arrives
    // with VK 0 and types nothing under Wine, a VK alone arrives with scan code
    // 0. For a plain key the VK is what the foreground window's layout makes of
    // the scan code at the press, so the key at that position acts as it would
    // when typed.
    EventRef createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        if (virtualKey >= windowsKeys.size() || windowsKeys[virtualKey].scan == 0) return nullptr;
        const WindowsKey& key = windowsKeys[virtualKey];
        WindowsEvent event;
        KEYBDINPUT& input = event.inputs[0].ki;
        event.inputs[0].type = INPUT_KEYBOARD;
        input.wScan = key.scan;
        input.wVk = key.extended ? key.fixedVk : plainKeyVk(virtualKey, key.scan, keyDown);
        // A layout that gives the position no VK still gets the scan code.
        input.dwFlags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) |
                        (input.wVk == 0 ? KEYEVENTF_SCANCODE : 0) | (keyDown ? 0 : KEYEVENTF_KEYUP);
        event.count = 1;
        return slot_.take(event);
    }

    void postEvent(EventRef handle) override {
        if (WindowsEvent* event = slot_.live(handle)) {
            SendInput(event->count, event->inputs.data(), sizeof(INPUT));
        }
    }

    void releaseEvent(EventRef event) override { slot_.release(event); }

private:
    // A held key keeps the VK of its press: layouts are per window, and one
    // recomputed after a focus change would release a key that was never pressed.
    WORD plainKeyVk(VirtualKey virtualKey, WORD scan, bool keyDown) {
        WORD& held = heldVk_[virtualKey];
        WORD vk = held;
        if (vk == 0) {
            const HKL layout =
                GetKeyboardLayout(GetWindowThreadProcessId(GetForegroundWindow(), nullptr));
            vk = static_cast<WORD>(MapVirtualKeyExW(scan, MAPVK_VSC_TO_VK_EX, layout));
        }
        held = keyDown ? vk : 0;
        return vk;
    }

    EventSlot<WindowsEvent> slot_;
    std::array<WORD, kVirtualKeyLimit> heldVk_{};  // per key: the VK it is held with, or 0
};

// A service, or any process on a window station other than the interactive
// one, can never deliver input: that station has no keyboard or mouse.
bool onInteractiveDesktop() {
    USEROBJECTFLAGS flags{};
    const HWINSTA station = GetProcessWindowStation();
    return station != nullptr &&
           GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

std::unique_ptr<Platform> openPlatform() {
    if (!onInteractiveDesktop()) {
        std::fputs(
            "inputfeed: not on an interactive desktop (a service session cannot post input)\n",
            stderr);
        return nullptr;
    }
    return std::make_unique<WindowsPlatform>();
}

}  // namespace inputfeed
