// inputfeed-check in a Wayland session: which of the agent's ways in the
// compositor advertises, read from its registry without binding any of them.
#include <wayland-client.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/linux_checks.h"

namespace inputfeed {
namespace {

struct Globals {
    bool seat = false;
    bool outputManager = false;
    bool pointerManager = false;
    bool keyboardManager = false;
    bool fakeInput = false;
};

void global(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t version) {
    auto& globals = *static_cast<Globals*>(data);
    const auto is = [interface](const char* name) { return std::strcmp(interface, name) == 0; };
    globals.seat |= is("wl_seat");
    globals.outputManager |= is("zxdg_output_manager_v1");
    globals.pointerManager |= is("zwlr_virtual_pointer_manager_v1");
    globals.keyboardManager |= is("zwp_virtual_keyboard_manager_v1");
    // The agent needs version 4, which brings keys.
    globals.fakeInput |= is("org_kde_kwin_fake_input") && version >= 4;
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

// libwayland's own messages would come before the report; the report says the cause.
void quiet(const char*, va_list) {}

constexpr const char* kNoOutputs =
    "the compositor lacks zxdg_output_manager_v1, which tells where its outputs are";

}  // namespace

WaylandProbe checkWayland() {
    wl_log_set_handler_client(quiet);
    WaylandProbe probe;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        probe.unreachable = "cannot connect to the Wayland compositor \"" +
                            std::string(std::getenv("WAYLAND_DISPLAY")) + '"' +
                            (runtime && *runtime ? "" : " (XDG_RUNTIME_DIR is not set)");
        return probe;
    }
    Globals globals;
    static const wl_registry_listener listener{global, globalRemove};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &globals);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) {
        probe.unreachable = "lost the connection to the Wayland compositor \"" +
                            std::string(std::getenv("WAYLAND_DISPLAY")) + '"';
        return probe;
    }

    if (globals.pointerManager && globals.keyboardManager) {
        if (!globals.seat) {
            probe.wlroots.problem = "the compositor has no seat";
        } else if (!globals.outputManager) {
            probe.wlroots.problem = kNoOutputs;
        }
    } else if (globals.pointerManager) {
        probe.wlroots.missing = "zwp_virtual_keyboard_manager_v1";
    } else if (globals.keyboardManager) {
        probe.wlroots.missing = "zwlr_virtual_pointer_manager_v1";
    } else {
        probe.wlroots.missing =
            "zwlr_virtual_pointer_manager_v1 and zwp_virtual_keyboard_manager_v1";
    }
    if (!globals.fakeInput) {
        probe.kde.missing = "org_kde_kwin_fake_input";
    } else if (!globals.outputManager) {
        probe.kde.problem = kNoOutputs;
    }
    return probe;
}

}  // namespace inputfeed
