// The agent in a Wayland session. A Wayland client cannot post input by
// itself; the compositor must offer a way in: wlroots-based compositors a
// virtual pointer and a virtual keyboard, KDE's KWin its fake input interface.
// Whichever the compositor advertises is used, in that order.
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "events/key_event.h"
#include "fake-input-client-protocol.h"
#include "platform/clock.h"
#include "platform/device_platform.h"
#include "platform/evdev_codes.h"
#include "platform/linux_backends.h"
#include "platform/wayland_client.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace inputfeed {

namespace {

using wayland::Box;
using wayland::Client;

// xkbcommon numbers keys as evdev code + 8, as X servers do.
constexpr xkb_keycode_t kXkbOffset = 8;

// Event timestamps: milliseconds of the monotonic clock, wrapping as the protocol's do.
std::uint32_t milliseconds() {
    return static_cast<std::uint32_t>(monotonic<std::chrono::milliseconds>());
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
        held_.set(evdev, down);
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
    std::bitset<kEvdevKeyLimit> held_;
};

// What both kinds of compositor share: one connection, positions in whole
// pixels of the outputs' box, flow control and the event loop.
class WaylandPlatform : public DevicePlatform {
public:
    explicit WaylandPlatform(std::unique_ptr<Client> client) : client_(std::move(client)) {}
    // Like closing an X display: everything sent is processed before the agent leaves.
    ~WaylandPlatform() override { client_->roundtrip(); }
    WaylandPlatform(const WaylandPlatform&) = delete;
    WaylandPlatform& operator=(const WaylandPlatform&) = delete;

    void flush() override { client_->flush(); }
    int connectionFd() const override { return client_->fd(); }
    void dispatchIncoming() override { client_->dispatch(); }

protected:
    bool hasKey(VirtualKey virtualKey) const override {
        return virtualKey < evdevKeyCodes.size() && evdevKeyCodes[virtualKey] != 0;
    }
    void eventDone() override { client_->eventSent(); }

    // The whole pixel for (x, y), rounded (halves away from zero) as on X11
    // and Windows and confined to the box around the outputs: clients truncate
    // or round a fraction each their own way, and a position just short of the
    // edge would land outside the last pixel. False while there is no output.
    bool place(double x, double y, std::int64_t& px, std::int64_t& py) {
        client_->eventStarting();
        const Box& box = client_->layout();
        if (box.empty()) return false;
        const auto pixel = [](double value, std::int64_t origin, std::int64_t size) {
            return static_cast<std::int64_t>(std::clamp(std::round(value),
                                                        static_cast<double>(origin),
                                                        static_cast<double>(origin + size - 1)));
        };
        px = pixel(x, box.x, box.width);
        py = pixel(y, box.y, box.height);
        return true;
    }

    std::unique_ptr<Client> client_;
};

// wlroots: a virtual pointer and a virtual keyboard, devices of the seat like
// hardware ones, whose keys type what the seat's keymap makes of them.
class WlrootsPlatform final : public WaylandPlatform {
public:
    using WaylandPlatform::WaylandPlatform;

    ~WlrootsPlatform() override {
        client_->setHooks({});
        if (seatKeyboard_) release(seatKeyboard_);
        if (keyboard_) zwp_virtual_keyboard_v1_destroy(keyboard_);
        if (pointer_) zwlr_virtual_pointer_v1_destroy(pointer_);
    }

    // The seat's keymap is read before the keyboard is created: once created,
    // the new keyboard becomes the seat's current one, with the compositor's
    // default keymap, and that is what would be read.
    bool start() {
        client_->setHooks({.data = this, .seat = seatChanged});
        seatChanged(this, client_->seat(), client_->seatCapabilities());
        client_->roundtrip();
        if (!seatKeymapRead_ && !keymap_.adoptDefault()) {
            std::fputs("inputfeed: cannot compile a US keymap (is xkb-data installed?)\n", stderr);
            return false;
        }
        keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
            client_->keyboardManager(), client_->seat());
        wayland::uploadKeymap(keyboard_, keymap_.text());
        pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(client_->pointerManager(),
                                                                          client_->seat());
        // The keymaps sent meanwhile are the compositor's initial one for the
        // new keyboard and then ours; only later ones are the seat's changes.
        client_->roundtrip();
        following_ = true;
        return true;
    }

private:
    void moveTo(double x, double y) override {
        std::int64_t px = 0, py = 0;
        if (!place(x, y, px, py)) return;
        const Box& box = client_->layout();
        zwlr_virtual_pointer_v1_motion_absolute(
            pointer_, milliseconds(), static_cast<std::uint32_t>(px - box.x),
            static_cast<std::uint32_t>(py - box.y), static_cast<std::uint32_t>(box.width),
            static_cast<std::uint32_t>(box.height));
        zwlr_virtual_pointer_v1_frame(pointer_);
    }

    void button(Button which, bool down) override {
        if (client_->layout().empty()) return;
        zwlr_virtual_pointer_v1_button(
            pointer_, milliseconds(), evdevButton(which),
            down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer_);
    }

    void key(VirtualKey virtualKey, bool down) override {
        client_->eventStarting();
        const std::uint32_t code = evdevKeyCodes[virtualKey];
        if (!keymapSent_) keymapSent_ = wayland::uploadKeymap(keyboard_, keymap_.text());
        zwp_virtual_keyboard_v1_key(
            keyboard_, milliseconds(), code,
            down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (keymap_.press(code, down)) keymap_.sendModifiers(keyboard_);
    }

    static void release(wl_keyboard* keyboard) {
        if (wl_keyboard_get_version(keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
            wl_keyboard_release(keyboard);
        } else {
            wl_keyboard_destroy(keyboard);
        }
    }

    static void seatChanged(void* data, wl_seat* seat, std::uint32_t capabilities) {
        auto* self = static_cast<WlrootsPlatform*>(data);
        const bool keyboard = (capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
        if (keyboard && !self->seatKeyboard_) {
            static const wl_keyboard_listener listener{
                keymapChanged,
                [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
                [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
                [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                   std::uint32_t) {},
                [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                   std::uint32_t) {},
                [](void*, wl_keyboard*, std::int32_t, std::int32_t) {}};
            self->seatKeyboard_ = wl_seat_get_keyboard(seat);
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
        auto* self = static_cast<WlrootsPlatform*>(data);
        const std::string text = wayland::receiveKeymap(format, fd, size);
        if (text.empty()) return;
        if (!self->keyboard_) {
            self->seatKeymapRead_ = self->keymap_.follow(text) || self->seatKeymapRead_;
        } else if (self->following_ && self->keymap_.follow(text)) {
            self->keymapSent_ = false;
        }
    }

    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    wl_keyboard* seatKeyboard_ = nullptr;
    Keymap keymap_;
    bool seatKeymapRead_ = false;
    bool following_ = false;
    // The seat's keymap goes to our keyboard with the next key only: the
    // compositor compiles each one, and the seat's keymap may switch often.
    bool keymapSent_ = true;
};

// KDE: KWin's fake input, which takes global coordinates and applies KWin's
// own layout and modifiers to its keys.
class KdePlatform final : public WaylandPlatform {
public:
    explicit KdePlatform(std::unique_ptr<Client> client) : WaylandPlatform(std::move(client)) {
        org_kde_kwin_fake_input_authenticate(client_->fakeInput(), "inputfeed",
                                             "posts the input its controlling program sends");
    }

private:
    void moveTo(double x, double y) override {
        std::int64_t px = 0, py = 0;
        if (!place(x, y, px, py)) return;
        org_kde_kwin_fake_input_pointer_motion_absolute(client_->fakeInput(),
                                                        wl_fixed_from_int(static_cast<int>(px)),
                                                        wl_fixed_from_int(static_cast<int>(py)));
        motionUnconfirmed_ = motionUnconfirmed_ || px != sentX_ || py != sentY_;
        sentX_ = px;
        sentY_ = py;
    }

    void button(Button which, bool down) override {
        if (client_->layout().empty()) return;
        // On KWin 5.27 a button read in one burst with its motion was seen to
        // reach no window: a round trip has KWin process the motion, and turn
        // its event loop, before it reads the button.
        if (motionUnconfirmed_) client_->roundtrip();
        motionUnconfirmed_ = false;
        org_kde_kwin_fake_input_button(client_->fakeInput(), evdevButton(which), down ? 1 : 0);
    }

    void key(VirtualKey virtualKey, bool down) override {
        client_->eventStarting();
        org_kde_kwin_fake_input_keyboard_key(client_->fakeInput(), evdevKeyCodes[virtualKey],
                                             down ? 1 : 0);
    }

    bool motionUnconfirmed_ = false;  // a motion elsewhere sent, not yet known processed
    std::int64_t sentX_ = INT64_MIN, sentY_ = INT64_MIN;
};

}  // namespace

std::unique_ptr<Platform> openWaylandPlatform(std::string& missing) {
    auto client = Client::open("inputfeed", 1);
    if (!client) return nullptr;
    const char* name = client->name();
    const bool wlroots = client->pointerManager() && client->keyboardManager();
    if (!wlroots && !client->fakeInput()) {
        // Posting through XTEST instead would reach only Xwayland's windows.
        if (!client->pointerManager()) missing += "zwlr_virtual_pointer_manager_v1, ";
        if (!client->keyboardManager()) missing += "zwp_virtual_keyboard_manager_v1, ";
        missing.resize(missing.size() - 2);
        return nullptr;
    }
    if (!client->seat() && wlroots) {
        std::fprintf(stderr, "inputfeed: the Wayland compositor on \"%s\" has no seat\n", name);
        return nullptr;
    }
    if (!client->outputManager()) {
        std::fprintf(stderr,
                     "inputfeed: the Wayland compositor on \"%s\" lacks zxdg_output_manager_v1, "
                     "which tells where its outputs are\n",
                     name);
        return nullptr;
    }
    if (!wlroots) return std::make_unique<KdePlatform>(std::move(client));
    auto platform = std::make_unique<WlrootsPlatform>(std::move(client));
    return platform->start() ? std::move(platform) : nullptr;
}

}  // namespace inputfeed
