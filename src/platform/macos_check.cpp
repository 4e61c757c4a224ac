// inputfeed-check on macOS: events posted without accessibility access are
// dropped. Only asks; the agent itself asks the user to grant it.
#include <ApplicationServices/ApplicationServices.h>

#include "platform/check.h"

namespace inputfeed {

CheckReport checkPlatform() {
    CheckReport report{"macOS Quartz events (the one backend on macOS)", {}};
    if (!AXIsProcessTrusted()) {
        report.problem =
            "accessibility access is not granted to the program that started this one "
            "(System Settings, Privacy & Security, Accessibility)";
    }
    return report;
}

}  // namespace inputfeed
