#include "agent.h"
#include "platform/platform.h"
#include "platform/streams.h"

// Arguments are deliberately ignored: the agent has no configuration. (On Linux the
// session's display variables choose where it posts, as for every client.)
int main() {
    inputfeed::prepareStandardStreams();
    const auto platform = inputfeed::openPlatform();
    if (!platform) return 1;
    return inputfeed::runAgent(/* standard input */ 0, *platform);
}
