// The GNOME benchmarks' raw client: posts a script (bench/script.h) straight
// through a remote-desktop session of Mutter's, with the calls the agent makes
// for the same commands (unanswered, with a round trip every 256), but nothing
// to read or decode: the platform's limit.
//
//   inputfeed-raw-gnome SCRIPT
//
// Positions are those of the first monitor's stream (the layout's 0,0 in
// tools/headless-gnome.sh), keys those of the US layout.
#include <systemd/sd-bus.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "evdev_keys.h"
#include "script.h"

namespace {

using inputfeed::bench::Action;

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kSession = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* kScreenCast = "org.gnome.Mutter.ScreenCast";

sd_bus* bus = nullptr;
std::string session;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inputfeed-raw-gnome: %s\n", what);
    std::exit(1);
}

// A call whose answer is an object path.
std::string callForPath(const char* destination, const char* path, const char* interface,
                        const char* method, const char* types, const char* a = nullptr,
                        const char* b = nullptr) {
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    const char* answer = nullptr;
    int result = 0;
    if (std::string(types) == "a{sv}") {
        result = sd_bus_call_method(bus, destination, path, interface, method, &error, &reply,
                                    types, 1, a, "s", b);
    } else if (std::string(types) == "sa{sv}") {
        result = sd_bus_call_method(bus, destination, path, interface, method, &error, &reply,
                                    types, a, 0);
    } else {
        result = sd_bus_call_method(bus, destination, path, interface, method, &error, &reply, "");
    }
    if (result < 0 || sd_bus_message_read(reply, "o", &answer) < 0) fail(method);
    std::string found = answer;
    sd_bus_message_unref(reply);
    return found;
}

template <typename... Args>
void send(const char* method, const char* types, Args... args) {
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_method_call(bus, &message, kRemoteDesktop, session.c_str(), kSession,
                                       method) < 0 ||
        sd_bus_message_append(message, types, args...) < 0 ||
        sd_bus_message_set_expect_reply(message, 0) < 0 || sd_bus_send(bus, message, nullptr) < 0) {
        fail("lost the session bus");
    }
    sd_bus_message_unref(message);
}

void call(const char* method) {
    sd_bus_error error{};
    if (sd_bus_call_method(bus, kRemoteDesktop, session.c_str(), kSession, method, &error, nullptr,
                           "") < 0) {
        fail(method);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: inputfeed-raw-gnome SCRIPT\n", stderr);
        return 2;
    }
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) fail("cannot compile a US keymap");
    const auto actions = inputfeed::bench::readScript(argv[1], [keymap](std::string_view name) {
        return inputfeed::bench::evdevKeyTyping(keymap, name);
    });

    if (sd_bus_open_user(&bus) < 0) fail("no session bus");
    session = callForPath(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop,
                          "CreateSession", "");
    char* id = nullptr;
    sd_bus_error error{};
    if (sd_bus_get_property_string(bus, kRemoteDesktop, session.c_str(), kSession, "SessionId",
                                   &error, &id) < 0) {
        fail("SessionId");
    }
    const std::string cast = callForPath(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast,
                                         "CreateSession", "a{sv}", "remote-desktop-session-id", id);
    std::free(id);
    const std::string stream =
        callForPath(kScreenCast, cast.c_str(), "org.gnome.Mutter.ScreenCast.Session",
                    "RecordMonitor", "sa{sv}", "Meta-0");
    call("Start");

    unsigned unanswered = 0;
    for (const Action& action : actions) {
        switch (action.kind) {
            case Action::motion:
                send("NotifyPointerMotionAbsolute", "sdd", stream.c_str(),
                     static_cast<double>(action.x), static_cast<double>(action.y));
                break;
            case Action::button:
                // xdotool numbers buttons 1 left, 2 middle, 3 right; evdev 0x110, 0x112, 0x111.
                send("NotifyPointerButton", "ib",
                     action.detail == 1   ? 0x110
                     : action.detail == 2 ? 0x112
                                          : 0x111,
                     action.down ? 1 : 0);
                break;
            case Action::key:
                send("NotifyKeyboardKeycode", "ub", action.detail, action.down ? 1 : 0);
                break;
        }
        if (++unanswered == 256) {
            unanswered = 0;
            char* again = nullptr;
            if (sd_bus_get_property_string(bus, kRemoteDesktop, session.c_str(), kSession,
                                           "SessionId", &error, &again) < 0) {
                fail("lost the session");
            }
            std::free(again);
        }
    }
    call("Stop");
    sd_bus_flush_close_unref(bus);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return 0;
}
