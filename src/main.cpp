#include "agent.h"
#include "platform/platform.h"
#include "platform/streams.h"

// Arguments and environment are deliberately ignored: the agent has no configuration.
int main() {
    inputfeed::prepareStandardStreams();
    const auto platform = inputfeed::openPlatform();
    if (!platform) return 1;
    return inputfeed::runAgent(/* standard input */ 0, *platform);
}
