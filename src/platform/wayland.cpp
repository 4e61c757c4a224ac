// The agent in a Wayland session. A Wayland client cannot post input by
// itself; the compositor must offer a way in. wlroots-based compositors offer a
// virtual pointer and a virtual keyboard (devices of the seat, like hardware
// ones), KDE's KWin its fake input interface. Whichever the compositor
// advertises is used, in that order.
#include <sys/mman.h>
#include <time.h>
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

std::uint32_t milliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// A global coordinate rounded to a whole logical pixel (halves away from
// zero), as on X11 and Windows, and clamped to the pixels of [origin, origin +
// size): clients truncate or round fractions each their own way, and a
// position just short of the edge would land outside the last pixel.
std::int64_t toPixel(double value, std::int64_t origin, std::int64_t size) {
    return static_cast<std::int64_t>(std::clamp(std::round(value), static_cast<double>(origin),
                                                static_cast<double>(origin + size - 1)));
}

// The keymap the agent's keyboard uses, and the modifier state its keys give:
// wlroots does not derive modifiers from a virtual keyboard's keys, so the
// agent tracks them itself on the same keymap and sends them along.
class Keymap {
public:
    Keymap() : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}
    ~Keymap() {
        for (const Seen& seen : seen_) xkb_keymap_unref(seen.keymap);
        xkb_state_unref(state_);
        xkb_keymap_unref(keymap_);
        xkb_context_unref(context_);
    }
    Keymap(const Keymap&) = delete;
    Keymap& operator=(const Keymap&) = delete;

    // The keymap in use, as xkbcommon writes it.
    const std::string& text() const { return normal_; }

    // Takes the seat's keymap `text` in place of the one in use; false when it
    // is the same keymap, or unusable: it does not compile, or lacks keys of
    // the key table (the minimal keymaps typing tools and on-screen keyboards
    // upload). A keyboard switch sends the same few keymaps over and over, so
    // the last ones seen are kept, each compiled once.
    bool follow(std::string_view text) {
        Seen* seen = std::find_if(seen_.begin(), seen_.end(), [text](const Seen& s) {
            return !s.text.empty() && s.text == text;
        });
        if (seen == seen_.end()) {
            seen = &seen_[next_++ % seen_.size()];
            xkb_keymap_unref(seen->keymap);
            seen->text = text;
            seen->keymap =
                xkb_keymap_new_from_buffer(context_, text.data(), text.size(),
                                           XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            seen->normal.clear();
            if (seen->keymap && complete(seen->keymap)) {
                char* normal = xkb_keymap_get_as_string(seen->keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
                seen->normal = normal ? normal : "";
                std::free(normal);
            }
        }
        if (seen->normal.empty() || seen->normal == normal_) return false;
        install(seen->keymap, seen->normal);
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
        xkb_keymap_unref(keymap);
        return true;
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
    struct Seen {
        std::string text;              // as the compositor sent it
        xkb_keymap* keymap = nullptr;  // null: did not compile
        std::string normal;            // as xkbcommon writes it; empty: unusable
    };

    static bool complete(xkb_keymap* keymap) {
        return std::all_of(macKeyCodes.begin(), macKeyCodes.end(), [keymap](const KeyName& key) {
            const xkb_keysym_t* syms = nullptr;
            return xkb_keymap_key_get_syms_by_level(keymap, key.evdevCode + kXkbOffset, 0, 0,
                                                    &syms) > 0;
        });
    }

    void install(xkb_keymap* keymap, const std::string& normal) {
        xkb_state_unref(state_);
        xkb_keymap_unref(keymap_);
        keymap_ = xkb_keymap_ref(keymap);
        state_ = xkb_state_new(keymap);
        normal_ = normal;
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
    std::string normal_;
    std::array<Seen, 4> seen_;
    unsigned next_ = 0;
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
        if (seatKeyboard_) release(seatKeyboard_);
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

private:
    bool hasKey(VirtualKey virtualKey) const override {
        return virtualKey < evdevCodes.size() && evdevCodes[virtualKey] != 0;
    }

    // With no output there is nowhere to move, and so no place for a press.
    void moveTo(double x, double y) override {
        connection_->eventStarting();
        const Box& box = connection_->layout();
        if (box.empty()) return;
        const std::int64_t px = toPixel(x, box.x, box.width);
        const std::int64_t py = toPixel(y, box.y, box.height);
        if (auto* fake = connection_->fakeInput(); fake && !pointer_) {
            // KWin takes global coordinates.
            org_kde_kwin_fake_input_pointer_motion_absolute(
                fake, wl_fixed_from_int(static_cast<int>(px)),
                wl_fixed_from_int(static_cast<int>(py)));
            motionUnconfirmed_ = true;
            return;
        }
        zwlr_virtual_pointer_v1_motion_absolute(
            pointer_, milliseconds(), static_cast<std::uint32_t>(px - box.x),
            static_cast<std::uint32_t>(py - box.y), static_cast<std::uint32_t>(box.width),
            static_cast<std::uint32_t>(box.height));
        zwlr_virtual_pointer_v1_frame(pointer_);
    }

    void button(Button which, bool down) override {
        if (connection_->layout().empty()) return;
        const std::uint32_t code = kButtonCodes[static_cast<std::size_t>(which)];
        if (!pointer_) {
            // On KWin 5.27 a button read in one burst with its motion was seen to reach no
            // window: a round trip has KWin process the motion, and turn its event loop,
            // before it reads the button.
            if (motionUnconfirmed_) connection_->roundtrip();
            motionUnconfirmed_ = false;
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

    static void release(wl_keyboard* keyboard) {
        if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(keyboard);
        } else {
            wl_keyboard_destroy(keyboard);
        }
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
            release(self->seatKeyboard_);
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
            self->seatKeymapRead_ = self->keymap_.follow(text) || self->seatKeymapRead_;
        } else if (self->following_ && self->keymap_.follow(text)) {
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
    bool motionUnconfirmed_ = false;  // KDE: a motion sent, not yet known processed
};

}  // namespace

std::unique_ptr<Platform> openWaylandPlatform() {
    auto connection = Connection::open();
    if (!connection) return nullptr;
    const char* name = connection->name();
    const bool wlroots = connection->pointerManager() && connection->keyboardManager();
    if (!wlroots && !connection->fakeInput()) {
        // Posting through XTEST instead would reach only Xwayland's windows.
        std::string missing;
        if (!connection->pointerManager()) missing += "zwlr_virtual_pointer_manager_v1, ";
        if (!connection->keyboardManager()) missing += "zwp_virtual_keyboard_manager_v1, ";
        missing.resize(missing.size() - 2);
        std::fprintf(stderr,
                     "inputfeed: the Wayland compositor on \"%s\" offers no way to post input: "
                     "it lacks %s and org_kde_kwin_fake_input (which KDE offers only to programs "
                     "named in a .desktop file)\n",
                     name, missing.c_str());
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
