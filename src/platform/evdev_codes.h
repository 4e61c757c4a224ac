#pragma once

// Linux input-event codes (linux/input-event-codes.h), which the Wayland and
// GNOME backends post: the evdev column of the one key table, by virtual key,
// and the pointer buttons, by Button.

#include <algorithm>
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

// Every key's evdev code is below this bound, so a backend can index its own state by it.
inline constexpr std::size_t kEvdevKeyLimit = 128;
static_assert(std::ranges::all_of(evdevKeyCodes,
                                  [](std::uint16_t code) { return code < kEvdevKeyLimit; }),
              "evdev key codes must be below kEvdevKeyLimit");

// BTN_LEFT, BTN_MIDDLE and BTN_RIGHT, in the order of Button.
inline constexpr std::array<std::uint16_t, 3> evdevButtonCodes{0x110, 0x112, 0x111};

constexpr std::uint16_t evdevButton(Button which) {
    return evdevButtonCodes[static_cast<std::size_t>(which)];
}

}  // namespace inputfeed
