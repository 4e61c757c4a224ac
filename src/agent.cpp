#include "agent.h"

#include <optional>

#include "command/decoder.h"
#include "line_reader.h"

namespace inputfeed {

int runAgent(LineReader& reader, Platform& platform) {
    Decoder decoder;
    platform.requestTrust();
    for (;;) {
        if (!reader.lineReady()) platform.flush();
        const Line line = reader.next();
        if (line.kind == Line::Kind::end) break;
        // A too-long line is refused without ever reaching the decoder.
        if (line.kind != Line::Kind::text) continue;

        const std::optional<Command> command = decodeCommand(line.text, decoder);
        if (!command) continue;
        if (const std::optional<Event> event = dispatchCommand(*command, platform)) {
            platform.postEvent(*event);
            platform.releaseEvent(*event);
        }
    }
    platform.flush();
    return 0;
}

int runAgent(int inputFd, Platform& platform) {
    LineReader reader(inputFd);
    return runAgent(reader, platform);
}

}  // namespace inputfeed
