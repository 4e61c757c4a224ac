// STUB: to be replaced by the real input loop.
#include "agent.h"

namespace inputfeed {
int runAgent(int, Platform& platform) {
    platform.requestTrust();
    return 0;
}
}  // namespace inputfeed
