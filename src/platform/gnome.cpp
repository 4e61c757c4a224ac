// The agent in a GNOME Wayland session. Mutter offers Wayland clients no way to
// post input, but on the session bus it offers the remote-desktop interface its
// own screen sharing uses: a remote-desktop session with a virtual pointer and
// keyboard, and, bound to it, a screen-cast session with one stream per monitor,
// in whose coordinates absolute pointer positions are given.
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "events/key_event.h"
#include "platform/device_platform.h"
#include "platform/evdev_codes.h"
#include "platform/linux_backends.h"

namespace inputfeed {

namespace {

constexpr const char* kRemoteDesktop = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* kRemoteSession = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* kScreenCast = "org.gnome.Mutter.ScreenCast";
constexpr const char* kDisplayConfig = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kDisplayConfigPath = "/org/gnome/Mutter/DisplayConfig";

// Calls sent without waiting for their answers before one call waits for its
// answer, so that a flood never runs ahead of Mutter by more than this.
constexpr unsigned kCallsPerRoundTrip = 256;

struct BusUnref {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusUnref>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

struct Error {
    sd_bus_error error{};  // SD_BUS_ERROR_NULL is a C compound literal
    Error() = default;
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;
    ~Error() { sd_bus_error_free(&error); }
    const char* text() const { return error.message ? error.message : error.name; }
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inputfeed: %s\n", what);
    std::exit(1);
}

bool refused(const char* why) {
    std::fprintf(stderr, "inputfeed: GNOME's remote desktop refused a session: %s\n", why);
    return false;
}

// One monitor of the layout: the stream that stands for it, where it lies, and
// how many stream pixels make one layout pixel.
struct Monitor {
    std::string stream;
    std::int64_t x = 0, y = 0, width = 0, height = 0;
    double scale = 1;
};

class GnomePlatform final : public DevicePlatform {
public:
    explicit GnomePlatform(Bus bus) : bus_(std::move(bus)) {}

    ~GnomePlatform() override {
        if (!started_) return;
        // Mutter drops the input of the session's devices that is still queued for its next
        // frame when Stop removes them: without a wait, 2 of 25 floods lost their last move.
        roundTrip();
        timespec frames{0, 50'000'000};
        nanosleep(&frames, nullptr);
        stop();
    }

    GnomePlatform(const GnomePlatform&) = delete;
    GnomePlatform& operator=(const GnomePlatform&) = delete;

    // Mutter leaving the bus ends the agent; a new monitor layout makes a new session.
    bool watch() {
        sd_bus_slot* gone = nullptr;
        sd_bus_slot* layout = nullptr;
        const bool watching =
            sd_bus_add_match(
                bus_.get(), &gone,
                "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                "arg0='org.gnome.Mutter.RemoteDesktop'",
                ownerChanged, nullptr) >= 0 &&
            sd_bus_match_signal(bus_.get(), &layout, kDisplayConfig, kDisplayConfigPath,
                                kDisplayConfig, "MonitorsChanged", layoutChanged, this) >= 0;
        slots_.emplace_back(gone);
        slots_.emplace_back(layout);
        return watching || refused("cannot follow Mutter's signals");
    }

    // Creates and starts a session with a stream for every monitor of the
    // current layout; false after a message on standard error.
    bool start() {
        Message reply;
        const char* path = nullptr;
        if (!call(kRemoteDesktop, "/org/gnome/Mutter/RemoteDesktop", kRemoteDesktop,
                  "CreateSession", reply, "") ||
            !read(reply, "o", &path)) {
            return false;
        }
        session_ = path;
        sd_bus_slot* slot = nullptr;
        sd_bus_match_signal(bus_.get(), &slot, kRemoteDesktop, session_.c_str(), kRemoteSession,
                            "Closed", closed, this);
        closedSlot_.reset(slot);
        Error error;
        char* id = nullptr;
        if (sd_bus_get_property_string(bus_.get(), kRemoteDesktop, session_.c_str(), kRemoteSession,
                                       "SessionId", &error.error, &id) < 0) {
            return refused(error.text());
        }
        const std::string sessionId = id;
        std::free(id);
        if (!call(kScreenCast, "/org/gnome/Mutter/ScreenCast", kScreenCast, "CreateSession", reply,
                  "a{sv}", 1, "remote-desktop-session-id", "s", sessionId.c_str()) ||
            !read(reply, "o", &path)) {
            return false;
        }
        const std::string castSession = path;
        monitors_.clear();
        if (!readMonitors()) return false;
        for (Monitor& monitor : monitors_) {
            // Until it records, the monitor is known by its connector.
            if (!call(kScreenCast, castSession.c_str(), "org.gnome.Mutter.ScreenCast.Session",
                      "RecordMonitor", reply, "sa{sv}", monitor.stream.c_str(), 0) ||
                !read(reply, "o", &path)) {
                return false;
            }
            monitor.stream = path;
        }
        started_ = call(kRemoteDesktop, session_.c_str(), kRemoteSession, "Start", reply, "") &&
                   readLayout();
        return started_;
    }

    int connectionFd() const override { return sd_bus_get_fd(bus_.get()); }

    void dispatchIncoming() override {
        // Signals that come in while a new session starts wait in sd-bus's queue, where
        // waiting on the socket would not see them: take them in until none is left.
        for (;;) {
            processQueued();
            if (!sessionGone_ && !layoutChanged_) return;
            follow();
        }
    }

    // Everything sent reaches the socket, and what came back meanwhile (round
    // trips read signals along with their answers) is handled now.
    void flush() override {
        if (sd_bus_flush(bus_.get()) < 0) fail("lost the connection to the session bus");
        dispatchIncoming();
    }

protected:
    bool hasKey(VirtualKey virtualKey) const override {
        return virtualKey < evdevKeyCodes.size() && evdevKeyCodes[virtualKey] != 0;
    }

    void moveTo(double x, double y) override {
        wanted_ = {x, y};
        // Whole layout pixels, inside the box around the monitors.
        const auto px = static_cast<std::int64_t>(std::round(std::clamp(
            x, static_cast<double>(box_.x), static_cast<double>(box_.x + box_.width - 1))));
        const auto py = static_cast<std::int64_t>(std::round(std::clamp(
            y, static_cast<double>(box_.y), static_cast<double>(box_.y + box_.height - 1))));
        // The monitor the point lies on, else the nearest one.
        const Monitor* best = nullptr;
        std::int64_t bestDistance = 0;
        for (const Monitor& monitor : monitors_) {
            const std::int64_t dx =
                std::max({monitor.x - px, std::int64_t{0}, px - (monitor.x + monitor.width - 1)});
            const std::int64_t dy =
                std::max({monitor.y - py, std::int64_t{0}, py - (monitor.y + monitor.height - 1)});
            const std::int64_t distance = dx * dx + dy * dy;
            if (!best || distance < bestDistance) {
                best = &monitor;
                bestDistance = distance;
            }
        }
        const std::int64_t sx = std::clamp(px, best->x, best->x + best->width - 1) - best->x;
        const std::int64_t sy = std::clamp(py, best->y, best->y + best->height - 1) - best->y;
        if (best == at_ && sx == atX_ && sy == atY_) return;
        at_ = best;
        atX_ = sx;
        atY_ = sy;
        moved_ = true;
        send("NotifyPointerMotionAbsolute", "sdd", best->stream.c_str(),
             static_cast<double>(sx) * best->scale, static_cast<double>(sy) * best->scale);
    }

    void button(Button which, bool down) override {
        // Mutter has the move before the press or release is sent (one round trip): presses
        // written right behind their moves were lost more often by windows still being set up.
        while (moved_) {  // again if the round trip found a new session, and moved there
            moved_ = false;
            roundTrip();
        }
        const auto index = static_cast<std::size_t>(which);
        buttonsHeld_[index] = down;
        send("NotifyPointerButton", "ib", std::int32_t{evdevButtonCodes[index]}, down ? 1 : 0);
    }

    void key(VirtualKey virtualKey, bool down) override {
        keysHeld_[virtualKey] = down;
        send("NotifyKeyboardKeycode", "ub", std::uint32_t{evdevKeyCodes[virtualKey]}, down ? 1 : 0);
    }

private:
    // A call to the session whose answer is not awaited.
    template <typename... Args>
    void send(const char* method, const char* types, Args... args) {
        sd_bus_message* message = nullptr;
        if (sd_bus_message_new_method_call(bus_.get(), &message, kRemoteDesktop, session_.c_str(),
                                           kRemoteSession, method) < 0) {
            fail("lost the connection to the session bus");
        }
        const Message owned(message);
        if (sd_bus_message_append(message, types, args...) < 0 ||
            sd_bus_message_set_expect_reply(message, 0) < 0 ||
            sd_bus_send(bus_.get(), message, nullptr) < 0) {
            fail("lost the connection to the session bus");
        }
        if (++unanswered_ >= kCallsPerRoundTrip) roundTrip();
    }

    // Waits until Mutter has handled every call sent so far: it answers them in
    // order, on the thread that handles them.
    void roundTrip() {
        unanswered_ = 0;
        Error error;
        char* id = nullptr;
        if (sd_bus_get_property_string(bus_.get(), kRemoteDesktop, session_.c_str(), kRemoteSession,
                                       "SessionId", &error.error, &id) >= 0) {
            std::free(id);
            return;
        }
        sessionGone_ = true;
        follow();
    }

    void stop() {
        Message reply;
        Error error;
        sd_bus_message* raw = nullptr;
        sd_bus_call_method(bus_.get(), kRemoteDesktop, session_.c_str(), kRemoteSession, "Stop",
                           &error.error, &raw, "");
        reply.reset(raw);
    }

    // Mutter ends a session whose monitors change, and then says that they
    // changed; the agent then starts a new session on the new layout. Ended
    // for any other reason, the session ends the agent.
    void follow() {
        if (sessionGone_ && !layoutChanged_) {
            // Mutter's answer comes after every signal it sent before.
            Message reply;
            Error error;
            sd_bus_message* raw = nullptr;
            if (sd_bus_call_method(bus_.get(), kDisplayConfig, kDisplayConfigPath, kDisplayConfig,
                                   "GetCurrentState", &error.error, &raw, "") < 0) {
                fail("lost GNOME's remote desktop: Mutter left the session bus");
            }
            reply.reset(raw);
            processQueued();
            if (!layoutChanged_) fail("GNOME closed the remote-desktop session");
        }
        sessionGone_ = layoutChanged_ = false;
        closedSlot_.reset();
        stop();
        if (!start()) std::exit(1);
        // The old session's devices took the pointer's place, keys and buttons with them: a
        // press that follows lands where its command said.
        if (wanted_) moveTo(wanted_->first, wanted_->second);
        for (std::size_t key = 0; key < keysHeld_.size(); ++key) {
            if (keysHeld_[key]) {
                send("NotifyKeyboardKeycode", "ub", std::uint32_t{evdevKeyCodes[key]}, 1);
            }
        }
        for (std::size_t index = 0; index < buttonsHeld_.size(); ++index) {
            if (buttonsHeld_[index])
                send("NotifyPointerButton", "ib", std::int32_t{evdevButtonCodes[index]}, 1);
        }
    }

    void processQueued() {
        int result = 0;
        while ((result = sd_bus_process(bus_.get(), nullptr)) > 0) {
        }
        if (result < 0) fail("lost the connection to the session bus");
    }

    template <typename... Args>
    bool call(const char* destination, const char* path, const char* interface, const char* method,
              Message& reply, const char* types, Args... args) {
        Error error;
        sd_bus_message* raw = nullptr;
        const int result = sd_bus_call_method(bus_.get(), destination, path, interface, method,
                                              &error.error, &raw, types, args...);
        reply.reset(raw);
        return result >= 0 || refused(error.text());
    }

    static bool read(const Message& reply, const char* types, const char** value) {
        return sd_bus_message_read(reply.get(), types, value) >= 0 ||
               refused("an answer of an unexpected form");
    }

    static int closed(sd_bus_message*, void* data, sd_bus_error*) {
        static_cast<GnomePlatform*>(data)->sessionGone_ = true;
        return 0;
    }
    static int ownerChanged(sd_bus_message* message, void*, sd_bus_error*) {
        const char *name = nullptr, *before = nullptr, *after = nullptr;
        if (sd_bus_message_read(message, "sss", &name, &before, &after) >= 0 &&
            std::strcmp(name, kRemoteDesktop) == 0 && *after == '\0') {
            fail("lost GNOME's remote desktop: Mutter left the session bus");
        }
        return 0;
    }
    static int layoutChanged(sd_bus_message*, void* data, sd_bus_error*) {
        static_cast<GnomePlatform*>(data)->layoutChanged_ = true;
        return 0;
    }

    // The monitors in use, by connector, from DisplayConfig's current state. In
    // GNOME's logical layout mode (fractional scaling) a stream still counts
    // physical pixels, scale of them to a pixel of the layout.
    bool readMonitors() {
        Message reply;
        if (!call(kDisplayConfig, kDisplayConfigPath, kDisplayConfig, "GetCurrentState", reply,
                  "")) {
            return false;
        }
        sd_bus_message* m = reply.get();
        const auto malformed = [] { return refused("a monitor layout of an unexpected form"); };
        if (sd_bus_message_skip(m, "ua((ssss)a(siiddada{sv})a{sv})") < 0 ||
            sd_bus_message_enter_container(m, 'a', "(iiduba(ssss)a{sv})") < 0) {
            return malformed();
        }
        while (sd_bus_message_enter_container(m, 'r', "iiduba(ssss)a{sv}") > 0) {
            double scale = 1;
            if (sd_bus_message_skip(m, "ii") < 0 || sd_bus_message_read(m, "d", &scale) < 0 ||
                sd_bus_message_skip(m, "ub") < 0 ||
                sd_bus_message_enter_container(m, 'a', "(ssss)") < 0) {
                return malformed();
            }
            const char* connector = nullptr;
            while (sd_bus_message_read(m, "(ssss)", &connector, nullptr, nullptr, nullptr) > 0) {
                monitors_.push_back(Monitor{connector, 0, 0, 0, 0, scale});
            }
            if (sd_bus_message_exit_container(m) < 0 || sd_bus_message_skip(m, "a{sv}") < 0 ||
                sd_bus_message_exit_container(m) < 0) {
                return malformed();
            }
        }
        if (sd_bus_message_exit_container(m) < 0 ||
            sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
            return malformed();
        }
        std::uint32_t mode = 0;  // 1: logical, 2: physical
        while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* name = nullptr;
            if (sd_bus_message_read(m, "s", &name) < 0) return malformed();
            if (std::strcmp(name, "layout-mode") == 0) {
                sd_bus_message_read(m, "v", "u", &mode);
            } else {
                sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
        }
        if (mode != 1) {
            for (Monitor& monitor : monitors_) monitor.scale = 1;
        }
        return !monitors_.empty() || refused("GNOME shows no monitor");
    }

    // Where each stream's monitor lies in the layout, from its Parameters.
    bool readLayout() {
        for (Monitor& monitor : monitors_) {
            Error error;
            sd_bus_message* raw = nullptr;
            const int result = sd_bus_get_property(bus_.get(), kScreenCast, monitor.stream.c_str(),
                                                   "org.gnome.Mutter.ScreenCast.Stream",
                                                   "Parameters", &error.error, &raw, "a{sv}");
            const Message reply(raw);
            if (result < 0) return refused(error.text());
            bool position = false, size = false;
            sd_bus_message_enter_container(raw, 'a', "{sv}");
            while (sd_bus_message_enter_container(raw, 'e', "sv") > 0) {
                const char* name = nullptr;
                std::int32_t a = 0, b = 0;
                if (sd_bus_message_read(raw, "s", &name) < 0) {
                    return refused("a screen-cast stream's parameters of an unexpected form");
                }
                if (std::strcmp(name, "position") == 0 &&
                    sd_bus_message_read(raw, "v", "(ii)", &a, &b) >= 0) {
                    monitor.x = a;
                    monitor.y = b;
                    position = true;
                } else if (std::strcmp(name, "size") == 0 &&
                           sd_bus_message_read(raw, "v", "(ii)", &a, &b) >= 0 && a > 0 && b > 0) {
                    monitor.width = a;
                    monitor.height = b;
                    size = true;
                } else {
                    sd_bus_message_skip(raw, "v");
                }
                sd_bus_message_exit_container(raw);
            }
            if (!position || !size) return refused("a screen-cast stream without its place");
        }
        std::int64_t right = monitors_.front().x, bottom = monitors_.front().y;
        box_ = monitors_.front();
        for (const Monitor& monitor : monitors_) {
            box_.x = std::min(box_.x, monitor.x);
            box_.y = std::min(box_.y, monitor.y);
            right = std::max(right, monitor.x + monitor.width);
            bottom = std::max(bottom, monitor.y + monitor.height);
        }
        box_.width = right - box_.x;
        box_.height = bottom - box_.y;
        at_ = nullptr;
        return true;
    }

    Bus bus_;
    std::vector<Slot> slots_;
    Slot closedSlot_;
    std::string session_;
    std::vector<Monitor> monitors_;
    Monitor box_;
    const Monitor* at_ = nullptr;  // where the pointer was last sent, in stream coordinates
    std::int64_t atX_ = 0, atY_ = 0;
    std::optional<std::pair<double, double>> wanted_;  // the last position asked for
    unsigned unanswered_ = 0;
    bool moved_ = false;
    bool sessionGone_ = false;
    bool layoutChanged_ = false;
    bool started_ = false;
    std::bitset<kVirtualKeyLimit> keysHeld_;
    std::bitset<3> buttonsHeld_;
};

}  // namespace

std::unique_ptr<Platform> openGnomePlatform(std::string& missing) {
    sd_bus* raw = nullptr;
    if (sd_bus_open_user(&raw) < 0) {
        missing = "there is no session bus for GNOME's org.gnome.Mutter.RemoteDesktop";
        return nullptr;
    }
    Bus bus(raw);
    Error error;
    sd_bus_message* reply = nullptr;
    int owned = 0;
    const bool found =
        sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", &error.error, &reply, "s",
                           kRemoteDesktop) >= 0 &&
        sd_bus_message_read(reply, "b", &owned) >= 0 && owned;
    sd_bus_message_unref(reply);
    if (!found) {
        missing = "the session bus has no org.gnome.Mutter.RemoteDesktop (GNOME's)";
        return nullptr;
    }
    auto platform = std::make_unique<GnomePlatform>(std::move(bus));
    if (!platform->watch() || !platform->start()) return nullptr;
    return platform;
}

}  // namespace inputfeed
