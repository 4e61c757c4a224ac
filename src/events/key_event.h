#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "command/command.h"
#include "platform/platform.h"

namespace inputfeed {

// One key the agent can press. The agent's own key number is the macOS virtual
// key; every other platform's number for the same physical key is a column of
// the same row, so all backends derive their codes from this one table.
struct KeyName {
    std::string_view name;      // the web KeyboardEvent.code name on a US layout
    VirtualKey virtualKey;      // macOS virtual key (kVK_*)
    std::uint16_t evdevCode;    // Linux input-event code (KEY_*)
    std::string_view xkbName;   // XKB key name: the position in an XKB keymap
    std::string_view xkbAlias;  // another name some XKB keymaps use, or empty
    std::uint16_t scanCode;     // PC scan code, set 1; 0xE0xx for E0-prefixed keys
};

// Every key the agent can press, and nothing else.
inline constexpr std::array<KeyName, 64> macKeyCodes{{
    {"KeyA", 0x00, 30, "AC01", "", 0x1E},
    {"KeyS", 0x01, 31, "AC02", "", 0x1F},
    {"KeyD", 0x02, 32, "AC03", "", 0x20},
    {"KeyF", 0x03, 33, "AC04", "", 0x21},
    {"KeyH", 0x04, 35, "AC06", "", 0x23},
    {"KeyG", 0x05, 34, "AC05", "", 0x22},
    {"KeyZ", 0x06, 44, "AB01", "", 0x2C},
    {"KeyX", 0x07, 45, "AB02", "", 0x2D},
    {"KeyC", 0x08, 46, "AB03", "", 0x2E},
    {"KeyV", 0x09, 47, "AB04", "", 0x2F},
    {"KeyB", 0x0B, 48, "AB05", "", 0x30},
    {"KeyQ", 0x0C, 16, "AD01", "", 0x10},
    {"KeyW", 0x0D, 17, "AD02", "", 0x11},
    {"KeyE", 0x0E, 18, "AD03", "", 0x12},
    {"KeyR", 0x0F, 19, "AD04", "", 0x13},
    {"KeyY", 0x10, 21, "AD06", "", 0x15},
    {"KeyT", 0x11, 20, "AD05", "", 0x14},
    {"Digit1", 0x12, 2, "AE01", "", 0x02},
    {"Digit2", 0x13, 3, "AE02", "", 0x03},
    {"Digit3", 0x14, 4, "AE03", "", 0x04},
    {"Digit4", 0x15, 5, "AE04", "", 0x05},
    {"Digit6", 0x16, 7, "AE06", "", 0x07},
    {"Digit5", 0x17, 6, "AE05", "", 0x06},
    {"Equal", 0x18, 13, "AE12", "", 0x0D},
    {"Digit9", 0x19, 10, "AE09", "", 0x0A},
    {"Digit7", 0x1A, 8, "AE07", "", 0x08},
    {"Minus", 0x1B, 12, "AE11", "", 0x0C},
    {"Digit8", 0x1C, 9, "AE08", "", 0x09},
    {"Digit0", 0x1D, 11, "AE10", "", 0x0B},
    {"BracketRight", 0x1E, 27, "AD12", "", 0x1B},
    {"KeyO", 0x1F, 24, "AD09", "", 0x18},
    {"KeyU", 0x20, 22, "AD07", "", 0x16},
    {"BracketLeft", 0x21, 26, "AD11", "", 0x1A},
    {"KeyI", 0x22, 23, "AD08", "", 0x17},
    {"KeyP", 0x23, 25, "AD10", "", 0x19},
    {"Enter", 0x24, 28, "RTRN", "", 0x1C},
    {"KeyL", 0x25, 38, "AC09", "", 0x26},
    {"KeyJ", 0x26, 36, "AC07", "", 0x24},
    {"Quote", 0x27, 40, "AC11", "", 0x28},
    {"KeyK", 0x28, 37, "AC08", "", 0x25},
    {"Semicolon", 0x29, 39, "AC10", "", 0x27},
    {"Backslash", 0x2A, 43, "BKSL", "AC12", 0x2B},
    {"Comma", 0x2B, 51, "AB08", "", 0x33},
    {"Slash", 0x2C, 53, "AB10", "", 0x35},
    {"KeyN", 0x2D, 49, "AB06", "", 0x31},
    {"KeyM", 0x2E, 50, "AB07", "", 0x32},
    {"Period", 0x2F, 52, "AB09", "", 0x34},
    {"Tab", 0x30, 15, "TAB", "", 0x0F},
    {"Space", 0x31, 57, "SPCE", "", 0x39},
    {"Backquote", 0x32, 41, "TLDE", "", 0x29},
    {"Backspace", 0x33, 14, "BKSP", "", 0x0E},
    {"Escape", 0x35, 1, "ESC", "", 0x01},
    {"MetaLeft", 0x37, 125, "LWIN", "LMTA", 0xE05B},
    {"ShiftLeft", 0x38, 42, "LFSH", "", 0x2A},
    {"AltLeft", 0x3A, 56, "LALT", "", 0x38},
    {"ControlLeft", 0x3B, 29, "LCTL", "", 0x1D},
    {"ShiftRight", 0x3C, 54, "RTSH", "", 0x36},
    {"AltRight", 0x3D, 100, "RALT", "", 0xE038},
    {"ControlRight", 0x3E, 97, "RCTL", "", 0xE01D},
    {"ArrowLeft", 0x7B, 105, "LEFT", "", 0xE04B},
    {"ArrowRight", 0x7C, 106, "RGHT", "", 0xE04D},
    {"ArrowDown", 0x7D, 108, "DOWN", "", 0xE050},
    {"ArrowUp", 0x7E, 103, "UP", "", 0xE048},
    {"Delete", 0x75, 111, "DELE", "", 0xE053},
}};

// Virtual keys are below this bound, so a backend can index its own codes by them.
inline constexpr std::size_t kVirtualKeyLimit = 128;

// Exact, case-sensitive, byte-wise lookup of a key name.
std::optional<VirtualKey> lookupKey(std::string_view name);

// Creates the key event for a keyboard command: a press when `type` is exactly
// "keyDown", a release otherwise. Expects `code` to be present. Returns nothing for
// a name not in macKeyCodes or when the platform creates no event.
std::optional<Event> makeKeyEvent(const Command& command, Platform& platform);

}  // namespace inputfeed
