#include <unistd.h>

#include "agent.h"
#include "platform/platform.h"

// Arguments and environment are deliberately ignored: the agent has no configuration.
int main() {
    const auto platform = inputfeed::openPlatform();
    if (!platform) return 1;
    return inputfeed::runAgent(STDIN_FILENO, *platform);
}
