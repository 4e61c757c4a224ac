// The Wayland benchmarks' raw client: posts a script (bench/script.h) straight
// through the wlroots virtual pointer and keyboard, with the requests the agent
// sends for the same commands, but nothing to read or decode: the platform's
// limit.
//
//   inputfeed-raw-wayland SCRIPT
//
// Positions are global logical pixels, keys those of the US layout. It shares
// the agent's Wayland client (src/platform/wayland_client.h), and so its flow
// control: without it, a flood kills the connection.
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "evdev_keys.h"
#include "platform/wayland_client.h"
#include "script.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

using inputfeed::bench::Action;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inputfeed-raw-wayland: %s\n", what);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: inputfeed-raw-wayland SCRIPT\n", stderr);
        return 2;
    }
    const auto client = inputfeed::wayland::Client::open("inputfeed-raw-wayland", 1);
    if (!client) return 1;
    if (!client->seat() || !client->outputManager() || !client->pointerManager() ||
        !client->keyboardManager()) {
        fail("the compositor lacks a seat, xdg-output or the wlroots virtual devices");
    }

    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) fail("cannot compile a US keymap");
    xkb_state* state = xkb_state_new(keymap);
    const auto actions = inputfeed::bench::readScript(argv[1], [keymap](std::string_view name) {
        return inputfeed::bench::evdevKeyTyping(keymap, name);
    });

    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    auto* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        client->keyboardManager(), client->seat());
    if (!text || !inputfeed::wayland::uploadKeymap(keyboard, text)) fail("cannot write the keymap");
    std::free(text);
    auto* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(client->pointerManager(),
                                                                           client->seat());
    client->roundtrip();

    const inputfeed::wayland::Box box = client->layout();
    for (const Action& action : actions) {
        switch (action.kind) {
            case Action::motion:
                zwlr_virtual_pointer_v1_motion_absolute(
                    pointer, 0, static_cast<std::uint32_t>(action.x - box.x),
                    static_cast<std::uint32_t>(action.y - box.y),
                    static_cast<std::uint32_t>(box.width), static_cast<std::uint32_t>(box.height));
                zwlr_virtual_pointer_v1_frame(pointer);
                break;
            case Action::button:
                // xdotool numbers buttons 1 left, 2 middle, 3 right; evdev 0x110, 0x112, 0x111.
                zwlr_virtual_pointer_v1_button(pointer, 0,
                                               action.detail == 1   ? 0x110
                                               : action.detail == 2 ? 0x112
                                                                    : 0x111,
                                               action.down ? 1 : 0);
                zwlr_virtual_pointer_v1_frame(pointer);
                break;
            case Action::key:
                zwp_virtual_keyboard_v1_key(keyboard, 0, action.detail, action.down ? 1 : 0);
                if (xkb_state_update_key(state, action.detail + 8,
                                         action.down ? XKB_KEY_DOWN : XKB_KEY_UP) != 0) {
                    zwp_virtual_keyboard_v1_modifiers(
                        keyboard, xkb_state_serialize_mods(state, XKB_STATE_MODS_DEPRESSED),
                        xkb_state_serialize_mods(state, XKB_STATE_MODS_LATCHED),
                        xkb_state_serialize_mods(state, XKB_STATE_MODS_LOCKED),
                        xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE));
                }
                break;
        }
        client->eventSent();
    }
    client->roundtrip();
    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return 0;
}
