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
#include "platform/device_platform.h"

namespace inputfeed {

namespace {

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

// The flags of a press and of a release, by Button.
constexpr DWORD kButtonFlags[3][2] = {{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP},
                                      {MOUSEEVENTF_MIDDLEDOWN, MOUSEEVENTF_MIDDLEUP},
                                      {MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP}};

// Windows has no permission to ask for: SendInput is open to every process on
// the interactive desktop, within the limits described at the top.
class WindowsPlatform final : public DevicePlatform {
private:
    bool hasKey(VirtualKey virtualKey) const override {
        return virtualKey < windowsKeys.size() && windowsKeys[virtualKey].scan != 0;
    }

    void moveTo(double x, double y) override {
        MOUSEINPUT& move = next(INPUT_MOUSE).mi;
        move.dx = normalise(
            x, {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN)});
        move.dy = normalise(
            y, {GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)});
        move.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    }

    // The button goes in an INPUT of its own after the move: combined into one,
    // a window may see the press at the previous pointer position.
    void button(Button which, bool down) override {
        next(INPUT_MOUSE).mi.dwFlags = kButtonFlags[static_cast<std::size_t>(which)][down ? 0 : 1];
    }

    // Scan code and VK together: a scan code alone (KEYEVENTF_SCANCODE) arrives
    // with VK 0 and types nothing under Wine, a VK alone arrives with scan code
    // 0. For a plain key the VK is what the foreground window's layout makes of
    // the scan code, so the key at that position acts as it would when typed.
    void key(VirtualKey virtualKey, bool down) override {
        const WindowsKey& entry = windowsKeys[virtualKey];
        KEYBDINPUT& input = next(INPUT_KEYBOARD).ki;
        input.wScan = entry.scan;
        input.wVk = entry.fixedVk;
        if (!entry.extended) {
            const HKL layout =
                GetKeyboardLayout(GetWindowThreadProcessId(GetForegroundWindow(), nullptr));
            input.wVk = static_cast<WORD>(MapVirtualKeyExW(entry.scan, MAPVK_VSC_TO_VK_EX, layout));
        }
        // A layout that gives the position no VK still gets the scan code.
        input.dwFlags = (entry.extended ? KEYEVENTF_EXTENDEDKEY : 0) |
                        (input.wVk == 0 ? KEYEVENTF_SCANCODE : 0) | (down ? 0 : KEYEVENTF_KEYUP);
    }

    // One SendInput call per event, so a move and its press arrive together.
    void eventDone() override {
        SendInput(count_, inputs_.data(), sizeof(INPUT));
        count_ = 0;
    }

    INPUT& next(DWORD type) {
        INPUT& input = inputs_[count_++];
        input = INPUT{};
        input.type = type;
        return input;
    }

    std::array<INPUT, 2> inputs_{};
    UINT count_ = 0;
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
