#include "agent.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "command/decoder.h"
#include "dispatch.h"
#include "line_reader.h"
#include "platform/streams.h"

namespace inputfeed {
namespace {

struct Input {
    int fd;
    Platform* platform;
};

// Reads standard input once it has something, taking in meanwhile what the
// platform's display sends: a display that goes away ends the agent even while
// no command comes.
ssize_t readWhenReady(void* context, char* buffer, std::size_t size) {
    const Input& input = *static_cast<const Input*>(context);
    while (!awaitInput(input.fd, input.platform->connectionFd())) {
        input.platform->dispatchIncoming();
    }
    return readInput(input.fd, buffer, size);
}

}  // namespace

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
    if (reader.readError() == 0) return 0;
    std::fprintf(stderr, "inputfeed: cannot read standard input (%s)\n",
                 std::strerror(reader.readError()));
    return 1;
}

int runAgent(int inputFd, Platform& platform) {
    Input input{inputFd, &platform};
    LineReader reader(readWhenReady, &input);
    return runAgent(reader, platform);
}

}  // namespace inputfeed
