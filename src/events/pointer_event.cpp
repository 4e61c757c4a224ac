#include "events/pointer_event.h"

namespace inputfeed {

std::optional<Event> makePointerEvent(const Command& command, Platform& platform) {
    const ButtonRow row = buttonRow(command.button);
    EventType type = kCGEventMouseMoved;
    if (command.type == "pointerDown") {
        type = row.press;
    } else if (command.type == "pointerUp") {
        type = row.release;
    }
    // The button goes with moves too; the position goes through untouched.
    return platform.createMouseEvent(type, *command.x, *command.y, row.button);
}

}  // namespace inputfeed
