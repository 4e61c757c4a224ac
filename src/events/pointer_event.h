#pragma once

#include <cstdint>
#include <optional>

#include "command/command.h"
#include "platform/platform.h"

namespace inputfeed {

// One row of the button table: the platform button for a command's `button`
// and the event types that press and release it.
struct ButtonRow {
    MouseButton button;
    EventType press;
    EventType release;
};

// Command button 1 (auxiliary) is the platform's center button and command
// button 2 (secondary) its right button; every other value, and none, is left.
constexpr ButtonRow buttonRow(std::optional<std::int64_t> button) {
    if (button == 1) return {kCGMouseButtonCenter, kCGEventOtherMouseDown, kCGEventOtherMouseUp};
    if (button == 2) return {kCGMouseButtonRight, kCGEventRightMouseDown, kCGEventRightMouseUp};
    return {kCGMouseButtonLeft, kCGEventLeftMouseDown, kCGEventLeftMouseUp};
}

// Creates the mouse event for a pointer command: a press for "pointerDown", a
// release for "pointerUp", a move for any other type. Expects `x` and `y` to be
// present. Returns nothing when the platform creates no event.
std::optional<Event> makePointerEvent(const Command& command, Platform& platform);

}  // namespace inputfeed
