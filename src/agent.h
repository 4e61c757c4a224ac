#pragma once

#include <cstdint>
#include <optional>

#include "command/command.h"
#include "platform/platform.h"

namespace inputfeed {

class LineReader;
struct Line;

// Told of each line the loop refuses (inputfeed-trace --explain): its number,
// counted from 1, the line, and the command when it decoded to one.
class RefusalListener {
public:
    virtual void refused(std::uint64_t number, const Line& line,
                         const std::optional<Command>& command) = 0;

protected:
    ~RefusalListener() = default;
};

// The agent: requests trust once, then reads newline-delimited commands from
// `inputFd` until end of input, posting and releasing the event each line
// produces before reading on, and waiting on the input and the platform's
// connection together. Returns the exit status: 0 at end of input, 1 (after one
// line on standard error) when reading failed.
int runAgent(int inputFd, Platform& platform, RefusalListener* listener = nullptr);

// The same loop over lines from any source. The platform is flushed each time
// the loop is about to wait for input and once at the end, so everything posted
// reaches the platform before the agent blocks, while a burst of lines that
// arrived together is delivered in one go.
int runAgent(LineReader& reader, Platform& platform, RefusalListener* listener = nullptr);

}  // namespace inputfeed
