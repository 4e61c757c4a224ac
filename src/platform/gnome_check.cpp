// inputfeed-check for GNOME: Mutter's remote-desktop interface is on the
// session bus. It only asks the bus who owns the name: no session is created,
// and nothing is started on demand.
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux_checks.h"

namespace inputfeed {
namespace {

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};

// Where sd-bus looks for the session bus, for the message when it is not there.
std::string whereBusIs() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return "at " + std::string(address);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return "at " + std::string(runtime) + "/bus";
    return "(neither DBUS_SESSION_BUS_ADDRESS nor XDG_RUNTIME_DIR is set)";
}

}  // namespace

Probe checkGnome() {
    sd_bus* opened = nullptr;
    int status = sd_bus_open_user(&opened);
    const std::unique_ptr<sd_bus, BusClose> bus(opened);
    sd_bus_error error{};  // SD_BUS_ERROR_NULL, which C++ compilers flag as a C99 literal
    sd_bus_message* answer = nullptr;
    if (status >= 0) {
        status = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "NameHasOwner", &error, &answer, "s",
                                    kRemoteDesktop);
    }
    const std::unique_ptr<sd_bus_message, MessageUnref> reply(answer);
    Probe probe;
    int owned = 0;
    if (status < 0) {
        const char* cause = error.message ? error.message : std::strerror(-status);
        probe.missing = "no session bus " + whereBusIs() + " (" + cause + ")";
    } else if (sd_bus_message_read(reply.get(), "b", &owned) < 0 || !owned) {
        probe.missing = std::string(kRemoteDesktop) + " is not on the session bus";
    }
    sd_bus_error_free(&error);
    return probe;
}

}  // namespace inputfeed
