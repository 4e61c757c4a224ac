#pragma once

#include "platform/platform.h"

namespace inputfeed {

class LineReader;

// The agent: requests trust once, then reads newline-delimited commands from
// `inputFd` until end of input, posting and releasing the event each line
// produces before reading on, and waiting on the input and the platform's
// connection together. Returns the exit status: 0 at end of input, 1 (after one
// line on standard error) when reading failed.
int runAgent(int inputFd, Platform& platform);

// The same loop over lines from any source. The platform is flushed each time
// the loop is about to wait for input and once at the end, so everything posted
// reaches the platform before the agent blocks, while a burst of lines that
// arrived together is delivered in one go.
int runAgent(LineReader& reader, Platform& platform);

}  // namespace inputfeed
