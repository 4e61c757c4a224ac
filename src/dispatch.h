#pragma once

#include <optional>

#include "command/command.h"
#include "platform/platform.h"

namespace inputfeed {

// Routes one decoded command to its handler and returns the event the handler
// created, or nothing. A command whose type begins with "pointer" and that has
// both coordinates is a pointer command (makePointerEvent); otherwise one with a
// key name is a keyboard command (makeKeyEvent); anything else is dropped.
std::optional<Event> dispatchCommand(const Command& command, Platform& platform);

}  // namespace inputfeed
