// The Linux agent built without sd-bus, which GNOME's remote desktop needs.
#include "platform/linux_backends.h"

namespace inputfeed {

std::unique_ptr<Platform> openGnomePlatform(std::string& missing) {
    missing = "this build has no D-Bus support for GNOME's remote desktop (it needs libsystemd)";
    return nullptr;
}

}  // namespace inputfeed
