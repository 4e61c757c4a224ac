#pragma once

#include "command/command.h"
#include "platform/platform.h"

namespace inputfeed {

class LineReader;

// Routes one command to its handler and returns the event the handler created,
// or nothing. A command whose type begins with "pointer" and that has both
// coordinates is a pointer command; otherwise one with a key name is a keyboard
// command; anything else is dropped.
std::optional<Event> dispatchCommand(const Command& command, Platform& platform);

// The agent: requests trust once, then reads newline-delimited commands from
// `inputFd` until end of input (or a read error), posting and releasing the
// event each line produces before reading on. Returns the exit status, 0.
int runAgent(int inputFd, Platform& platform);

// The same loop over lines from any source. The platform is flushed each time
// the loop is about to wait for input and once at the end, so everything posted
// reaches the platform before the agent blocks, while a burst of lines that
// arrived together is delivered in one go.
int runAgent(LineReader& reader, Platform& platform);

}  // namespace inputfeed
