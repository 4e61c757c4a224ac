#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "command/command.h"
#include "platform/platform.h"

namespace inputfeed {

struct KeyName {
    std::string_view name;  // the web KeyboardEvent.code name on a US layout
    VirtualKey virtualKey;  // the macOS virtual key of the same physical key
};

// Every key the agent can press, and nothing else.
inline constexpr std::array<KeyName, 64> macKeyCodes{{
    {"KeyA", 0x00},        {"KeyS", 0x01},         {"KeyD", 0x02},         {"KeyF", 0x03},
    {"KeyH", 0x04},        {"KeyG", 0x05},         {"KeyZ", 0x06},         {"KeyX", 0x07},
    {"KeyC", 0x08},        {"KeyV", 0x09},         {"KeyB", 0x0B},         {"KeyQ", 0x0C},
    {"KeyW", 0x0D},        {"KeyE", 0x0E},         {"KeyR", 0x0F},         {"KeyY", 0x10},
    {"KeyT", 0x11},        {"Digit1", 0x12},       {"Digit2", 0x13},       {"Digit3", 0x14},
    {"Digit4", 0x15},      {"Digit6", 0x16},       {"Digit5", 0x17},       {"Equal", 0x18},
    {"Digit9", 0x19},      {"Digit7", 0x1A},       {"Minus", 0x1B},        {"Digit8", 0x1C},
    {"Digit0", 0x1D},      {"BracketRight", 0x1E}, {"KeyO", 0x1F},         {"KeyU", 0x20},
    {"BracketLeft", 0x21}, {"KeyI", 0x22},         {"KeyP", 0x23},         {"Enter", 0x24},
    {"KeyL", 0x25},        {"KeyJ", 0x26},         {"Quote", 0x27},        {"KeyK", 0x28},
    {"Semicolon", 0x29},   {"Backslash", 0x2A},    {"Comma", 0x2B},        {"Slash", 0x2C},
    {"KeyN", 0x2D},        {"KeyM", 0x2E},         {"Period", 0x2F},       {"Tab", 0x30},
    {"Space", 0x31},       {"Backquote", 0x32},    {"Backspace", 0x33},    {"Escape", 0x35},
    {"MetaLeft", 0x37},    {"ShiftLeft", 0x38},    {"AltLeft", 0x3A},      {"ControlLeft", 0x3B},
    {"ShiftRight", 0x3C},  {"AltRight", 0x3D},     {"ControlRight", 0x3E}, {"ArrowLeft", 0x7B},
    {"ArrowRight", 0x7C},  {"ArrowDown", 0x7D},    {"ArrowUp", 0x7E},      {"Delete", 0x75},
}};

// Exact, case-sensitive, byte-wise lookup of a key name.
std::optional<VirtualKey> lookupKey(std::string_view name);

// Creates the key event for a keyboard command: a press when `type` is exactly
// "keyDown", a release otherwise. Expects `code` to be present. Returns null for
// a name not in macKeyCodes or when the platform creates no event.
EventRef makeKeyEvent(const Command& command, Platform& platform);

}  // namespace inputfeed
