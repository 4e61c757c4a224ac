#pragma once

// Linux input-event codes (linux/input-event-codes.h), which the Wayland and
// GNOME backends post: the evdev column of the one key table, by virtual key,
// and the pointer buttons, by Button.

#include <array>
#include <cstdint>

#include "events/key_event.h"
#include "platform/device_platform.h"

namespace inputfeed {

// evdev key codes by virtual key; 0 for no key.
inline constexpr auto evdevKeyCodes = [] {
    std::array<std::uint16_t, kVirtualKeyLimit> codes{};
    for (const KeyName& key : macKeyCodes) codes[key.virtualKey] = key.evdevCode;
    return codes;
}();

// BTN_LEFT, BTN_MIDDLE and BTN_RIGHT, in the order of Button.
inline constexpr std::array<std::uint16_t, 3> evdevButtonCodes{0x110, 0x112, 0x111};

constexpr std::uint16_t evdevButton(Button which) {
    return evdevButtonCodes[static_cast<std::size_t>(which)];
}

}  // namespace inputfeed
