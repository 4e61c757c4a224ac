#pragma once

// What inputfeed-check reports, found the way the agent starts, but without
// posting anything, creating an input device or session, or reading input.

#include <optional>
#include <string>

namespace inputfeed {

struct CheckReport {
    std::string backend;                 // the backend the agent would use here, and why
    std::optional<std::string> problem;  // why it could not post; nothing when it can
};

// One per platform, chosen by the build like the agent's backends.
CheckReport checkPlatform();

}  // namespace inputfeed
