// inputfeed-check built without sd-bus, like an agent that cannot reach GNOME.
#include "platform/linux_checks.h"

namespace inputfeed {

Probe checkGnome() {
    return {"this build lacks sd-bus (libsystemd)", {}};
}

}  // namespace inputfeed
