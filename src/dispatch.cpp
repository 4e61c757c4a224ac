#include "dispatch.h"

#include "events/key_event.h"
#include "events/pointer_event.h"

namespace inputfeed {

std::optional<Event> dispatchCommand(const Command& command, Platform& platform) {
    if (command.type.starts_with("pointer") && command.x && command.y) {
        return makePointerEvent(command, platform);
    }
    if (command.code) return makeKeyEvent(command, platform);
    return std::nullopt;
}

}  // namespace inputfeed
