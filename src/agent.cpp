#include "agent.h"

#include <optional>

#include "command/decoder.h"
#include "line_reader.h"

namespace inputfeed {

int runAgent(LineReader& reader, Platform& platform, RefusalListener* listener) {
    Decoder decoder;
    platform.requestTrust();
    for (std::uint64_t number = 1;; ++number) {
        if (!reader.lineReady()) platform.flush();
        const Line line = reader.next();
        if (line.kind == Line::Kind::end) break;
        // A too-long line is refused without ever reaching the decoder.
        if (line.kind != Line::Kind::text) {
            if (listener != nullptr) listener->refused(number, line, std::nullopt);
            continue;
        }
        const std::optional<Command> command = decodeCommand(line.text, decoder);
        const std::optional<Event> event =
            command ? dispatchCommand(*command, platform) : std::nullopt;
        if (!event) {
            if (listener != nullptr) listener->refused(number, line, command);
            continue;
        }
        platform.postEvent(*event);
        platform.releaseEvent(*event);
    }
    platform.flush();
    return 0;
}

int runAgent(int inputFd, Platform& platform) {
    LineReader reader(inputFd);
    return runAgent(reader, platform);
}

}  // namespace inputfeed
