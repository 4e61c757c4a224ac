// The agent in a Wayland session. A Wayland client cannot post input by
// itself; the compositor must offer a way in. wlroots-based compositors offer a
// virtual pointer and a virtual keyboard (devices of the seat, like hardware
// ones), KDE's KWin its fake input interface. Whichever the compositor
// advertises is used, in that order.
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "events/key_event.h"
#include "fake-input-client-protocol.h"
#include "platform/clock.h"
#include "platform/device_platform.h"
#include "platform/linux_backends.h"
#include "platform/wayland_connection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace inputfeed {

namespace {

using wayland::Box;
using wayland::Connection;

// evdev codes of the pointer buttons by Button (linux/input-event-codes.h).
constexpr std::array<std::uint32_t, 3> kButtonCodes{0x110, 0x112, 0x111};

// evdev key codes by virtual key, from the one key table; 0 for no key.
constexpr auto evdevCodes = [] {
    std::array<std::uint16_t, kVirtualKeyLimit> codes{};
    for (const KeyName& key : macKeyCodes) codes[key.virtualKey] = key.evdevCode;
    return codes;
}();

// xkbcommon numbers keys as evdev code + 8, as X servers do.
constexpr xkb_keycode_t kXkbOffset = 8;

// Event timestamps: milliseconds of the monotonic clock, wrapping as the protocol's do.
std::uint32_t milliseconds() {
    return static_cast<std::uint32_t>(monotonic<std::chrono::milliseconds>());
}

// A global coordinate in 1/256 units, clamped into [origin, origin + size)
// first. It is rounded as a global coordinate (halves away from zero), so the
// result does not depend on where the layout's box begins.
std::int64_t toSubpixels(double value, std::int64_t origin, std::int64_t size) {
    const double low = static_cast<double>(origin);
    const double high = static_cast<double>(origin + size) - 1.0 / 256;
    return static_cast<std::int64_t>(std::round(std::clamp(value, low, high) * 256));
}

// The keymap the agent's keyboard uses, and the modifier state its keys give:
// wlroots does not derive modifiers from a virtual keyboard's keys, so the
// agent tracks them itself on the same keymap and sends them along.
class Keymap {
public:
    Keymap() : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}
    ~Keymap() {
        xkb_state_unref(state_);
        xkb_keymap_unref(keymap_);
        xkb_context_unref(context_);
    }
    Keymap(const Keymap&) = delete;
    Keymap& operator=(const Keymap&) = delete;

    const std::string& text() const { return text_; }

    // Adopts a keymap in its text form; false if it does not compile.
    bool adopt(std::string_view text) {
        const std::string copy(text);
        xkb_keymap* keymap = xkb_keymap_new_from_string(
            context_, copy.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap) return false;
        install(keymap, copy);
        return true;
    }

    // The US layout, for a seat that has no keymap to read.
    bool adoptDefault() {
        const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
        xkb_keymap* keymap =
            xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap) return false;
        char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        install(keymap, text ? text : "");
        std::free(text);
        return true;
    }

    // True when `text` is the keymap in use, perhaps as the compositor
    // re-wrote it: comparing the text first spares compiling it again.
    bool isCurrent(std::string_view text) {
        if (text == text_ || (!echo_.empty() && text == echo_)) return true;
        const std::string copy(text);
        xkb_keymap* keymap = xkb_keymap_new_from_string(
            context_, copy.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap) return true;  // nothing we could use
        char* normal = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        const bool same = normal && normal == normal_;
        std::free(normal);
        xkb_keymap_unref(keymap);
        if (same) echo_ = copy;
        return same;
    }

    // Records a key and returns true when the modifiers or group changed.
    bool press(std::uint32_t evdev, bool down) {
        held_.set(evdev % held_.size(), down);
        const auto changed =
            xkb_state_update_key(state_, evdev + kXkbOffset, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        return changed != 0;
    }

    void sendModifiers(zwp_virtual_keyboard_v1* keyboard) const {
        zwp_virtual_keyboard_v1_modifiers(
            keyboard, xkb_state_serialize_mods(state_, XKB_STATE_MODS_DEPRESSED),
            xkb_state_serialize_mods(state_, XKB_STATE_MODS_LATCHED),
            xkb_state_serialize_mods(state_, XKB_STATE_MODS_LOCKED),
            xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE));
    }

private:
    void install(xkb_keymap* keymap, std::string text) {
        xkb_state_unref(state_);
        xkb_keymap_unref(keymap_);
        keymap_ = keymap;
        state_ = xkb_state_new(keymap);
        text_ = std::move(text);
        echo_.clear();
        char* normal = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        normal_ = normal ? normal : "";
        std::free(normal);
        // Keys still held keep their modifiers under the new keymap.
        for (std::size_t code = 0; code < held_.size(); ++code) {
            if (held_[code]) {
                xkb_state_update_key(state_, static_cast<xkb_keycode_t>(code) + kXkbOffset,
                                     XKB_KEY_DOWN);
            }
        }
    }

    xkb_context* context_;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    std::string text_;    // as uploaded
    std::string normal_;  // as xkbcommon writes it
    std::string echo_;    // as the compositor sent it back, once seen
    std::bitset<128> held_;
};

class WaylandPlatform final : public DevicePlatform {
public:
    explicit WaylandPlatform(std::unique_ptr<Connection> connection)
        : connection_(std::move(connection)) {}

    ~WaylandPlatform() override {
        // Like closing an X display: everything sent is processed before the
        // agent leaves, and whatever arrives meanwhile still finds us whole.
        connection_->roundtrip();
        connection_->onSeatChange(nullptr, nullptr);
        if (seatKeyboard_) wl_keyboard_destroy(seatKeyboard_);
        if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
        if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    }

    WaylandPlatform(const WaylandPlatform&) = delete;
    WaylandPlatform& operator=(const WaylandPlatform&) = delete;

    // The wlroots devices. The seat's keymap is read before the keyboard is
    // created: once created, the new keyboard becomes the seat's current one,
    // with the compositor's default keymap, and that is what would be read.
    bool startWlroots() {
        connection_->onSeatChange(seatChanged, this);
        seatChanged(this, connection_->seatCapabilities());
        connection_->roundtrip();
        if (!seatKeymapRead_ && !keymap_.adoptDefault()) {
            std::fputs("inputfeed: cannot compile a US keymap (is xkb-data installed?)\n", stderr);
            return false;
        }
        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
            connection_->keyboardManager(), connection_->seat());
        upload();
        pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(
            connection_->pointerManager(), connection_->seat());
        // The keymaps sent meanwhile are the compositor's initial one for the
        // new keyboard and then ours; only later ones are the seat's changes.
        connection_->roundtrip();
        following_ = true;
        return true;
    }

    void startKde() {
        org_kde_kwin_fake_input_authenticate(connection_->fakeInput(), "inputfeed",
                                             "posts the input its controlling program sends");
    }

    void flush() override { connection_->flush(); }

    // Waited on with standard input, so that keymap and output changes are taken
    // in, and a compositor that goes away is noticed, while no command comes.
    int connectionFd() const override { return wl_display_get_fd(connection_->display()); }
    void dispatchIncoming() override { connection_->flush(); }

private:
    bool hasKey(VirtualKey virtualKey) const override {
        return virtualKey < evdevCodes.size() && evdevCodes[virtualKey] != 0;
    }

    // With no output there is nowhere to move, and so no place for a press.
    void moveTo(double x, double y) override {
        connection_->eventStarting();
        const Box& box = connection_->layout();
        if (box.empty()) return;
        const std::int64_t sx = toSubpixels(x, box.x, box.width);
        const std::int64_t sy = toSubpixels(y, box.y, box.height);
        if (auto* fake = connection_->fakeInput(); fake && !pointer_) {
            // KWin takes global coordinates; wl_fixed is the same 1/256 unit.
            org_kde_kwin_fake_input_pointer_motion_absolute(fake, static_cast<wl_fixed_t>(sx),
                                                            static_cast<wl_fixed_t>(sy));
            return;
        }
        // The extent is the box in 1/256 units, so a position keeps its fraction.
        zwlr_virtual_pointer_v1_motion_absolute(pointer_, milliseconds(),
                                                static_cast<std::uint32_t>(sx - box.x * 256),
                                                static_cast<std::uint32_t>(sy - box.y * 256),
                                                static_cast<std::uint32_t>(box.width * 256),
                                                static_cast<std::uint32_t>(box.height * 256));
        zwlr_virtual_pointer_v1_frame(pointer_);
    }

    void button(Button which, bool down) override {
        if (connection_->layout().empty()) return;
        const std::uint32_t code = kButtonCodes[static_cast<std::size_t>(which)];
        if (!pointer_) {
            org_kde_kwin_fake_input_button(connection_->fakeInput(), code, down ? 1 : 0);
            return;
        }
        zwlr_virtual_pointer_v1_button(
            pointer_, milliseconds(), code,
            down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer_);
    }

    // KWin applies its own layout and modifiers to fake keys.
    void key(VirtualKey virtualKey, bool down) override {
        connection_->eventStarting();
        const std::uint32_t code = evdevCodes[virtualKey];
        if (!keyboard_) {
            org_kde_kwin_fake_input_keyboard_key(connection_->fakeInput(), code, down ? 1 : 0);
            return;
        }
        zwp_virtual_keyboard_v1_key(
            keyboard_, milliseconds(), code,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (keymap_.press(code, down)) keymap_.sendModifiers(keyboard_);
    }

    void eventDone() override { connection_->eventSent(); }

    void upload() {
        const std::string& text = keymap_.text();
        const int fd = memfd_create("inputfeed-keymap", MFD_CLOEXEC);
        if (fd < 0) return;
        // The size counts the terminating NUL, as compositors send keymaps.
        const std::size_t size = text.size() + 1;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, text.c_str() + done, size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (done == size) {
            zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           static_cast<std::uint32_t>(size));
        }
        ::close(fd);  // the request carries a duplicate
    }

    static void seatChanged(void* data, std::uint32_t capabilities) {
        auto* self = static_cast<WaylandPlatform*>(data);
        const bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        if (keyboard && !self->seatKeyboard_) {
            static const wl_keyboard_listener listener{keymapChanged, enter,     leave,
                                                       key,           modifiers, repeatInfo};
            self->seatKeyboard_ = wl_seat_get_keyboard(self->connection_->seat());
            wl_keyboard_add_listener(self->seatKeyboard_, &listener, self);
        } else if (!keyboard && self->seatKeyboard_) {
            wl_keyboard_destroy(self->seatKeyboard_);
            self->seatKeyboard_ = nullptr;
        }
    }

    // The seat's keymap: read once at the start, then followed, so the agent's
    // keys type what the user's keyboard types.
    static void keymapChanged(void* data, wl_keyboard*, std::uint32_t format, int fd,
                              std::uint32_t size) {
        auto* self = static_cast<WaylandPlatform*>(data);
        void* mapped = MAP_FAILED;
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
            mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        }
        ::close(fd);
        if (mapped == MAP_FAILED) return;
        const auto* chars = static_cast<const char*>(mapped);
        const std::string_view text(chars, strnlen(chars, size));
        if (!self->keyboard_) {
            self->seatKeymapRead_ = self->keymap_.adopt(text) || self->seatKeymapRead_;
        } else if (self->following_ && !self->keymap_.isCurrent(text) &&
                   self->keymap_.adopt(text)) {
            self->upload();
        }
        munmap(mapped, size);
    }
    static void enter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void leave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void key(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                    std::uint32_t) {}
    static void modifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                          std::uint32_t, std::uint32_t) {}
    static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}

    std::unique_ptr<Connection> connection_;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    wl_keyboard* seatKeyboard_ = nullptr;
    Keymap keymap_;
    bool seatKeymapRead_ = false;
    bool following_ = false;
};

}  // namespace

std::unique_ptr<Platform> openWaylandPlatform(std::string& missing) {
    auto connection = Connection::open();
    if (!connection) return nullptr;
    const char* name = connection->name();
    const bool wlroots = connection->pointerManager() && connection->keyboardManager();
    if (!wlroots && !connection->fakeInput()) {
        // Posting through XTEST instead would reach only Xwayland's windows.
        if (!connection->pointerManager()) missing += "zwlr_virtual_pointer_manager_v1, ";
        if (!connection->keyboardManager()) missing += "zwp_virtual_keyboard_manager_v1, ";
        missing.resize(missing.size() - 2);
        return nullptr;
    }
    if (!connection->seat() && wlroots) {
        std::fprintf(stderr, "inputfeed: the Wayland compositor on \"%s\" has no seat\n", name);
        return nullptr;
    }
    if (!connection->outputManager()) {
        std::fprintf(stderr,
                     "inputfeed: the Wayland compositor on \"%s\" lacks zxdg_output_manager_v1, "
                     "which tells where its outputs are\n",
                     name);
        return nullptr;
    }
    auto platform = std::make_unique<WaylandPlatform>(std::move(connection));
    if (wlroots) {
        if (!platform->startWlroots()) return nullptr;
    } else {
        platform->startKde();
    }
    return platform;
}

}  // namespace inputfeed
