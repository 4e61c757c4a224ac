// The Wayland benchmarks' raw client: posts a script (bench/script.h) straight
// through the wlroots virtual pointer and keyboard, with the requests the agent
// sends for the same commands, but nothing to read or decode: the platform's
// limit.
//
//   inputfeed-raw-wayland SCRIPT
//
// Positions are global logical pixels, keys those of the US layout. Like the
// agent it writes in bounded steps and keeps the compositor within two windows
// of 128 events, a round trip each: without that, a flood kills the connection.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "script.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace {

using inputfeed::bench::Action;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inputfeed-raw-wayland: %s\n", what);
    std::exit(1);
}

struct Client {
    wl_display* display = nullptr;
    wl_seat* seat = nullptr;
    zxdg_output_manager_v1* outputs = nullptr;
    zwlr_virtual_pointer_manager_v1* pointers = nullptr;
    zwp_virtual_keyboard_manager_v1* keyboards = nullptr;
    wl_output* output[8] = {};
    int outputCount = 0;
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;  // the box around the outputs
    wl_callback* sync = nullptr;
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
            std::uint32_t) {
    auto* client = static_cast<Client*>(data);
    const auto bind = [&](const wl_interface& wanted, std::uint32_t version) {
        return std::strcmp(interface, wanted.name) == 0
                   ? wl_registry_bind(registry, name, &wanted, version)
                   : nullptr;
    };
    if (void* seat = client->seat ? nullptr : bind(wl_seat_interface, 1)) {
        client->seat = static_cast<wl_seat*>(seat);
    } else if (void* output = bind(wl_output_interface, 1); output && client->outputCount < 8) {
        client->output[client->outputCount++] = static_cast<wl_output*>(output);
    } else if (void* manager = bind(zxdg_output_manager_v1_interface, 2)) {
        client->outputs = static_cast<zxdg_output_manager_v1*>(manager);
    } else if (void* pointers = bind(zwlr_virtual_pointer_manager_v1_interface, 1)) {
        client->pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(pointers);
    } else if (void* keyboards = bind(zwp_virtual_keyboard_manager_v1_interface, 1)) {
        client->keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(keyboards);
    }
}
void globalRemove(void*, wl_registry*, std::uint32_t) {}

struct Rect {
    Client* client;
    std::int32_t x, y, width, height;
};
void position(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y) {
    static_cast<Rect*>(data)->x = x;
    static_cast<Rect*>(data)->y = y;
}
void size(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height) {
    static_cast<Rect*>(data)->width = width;
    static_cast<Rect*>(data)->height = height;
}
void done(void* data, zxdg_output_v1*) {
    const Rect& rect = *static_cast<Rect*>(data);
    Client& client = *rect.client;
    client.left = std::min(client.left, rect.x);
    client.top = std::min(client.top, rect.y);
    client.right = std::max(client.right, rect.x + rect.width);
    client.bottom = std::max(client.bottom, rect.y + rect.height);
}
void ignoreName(void*, zxdg_output_v1*, const char*) {}

void synced(void* data, wl_callback* callback, std::uint32_t) {
    wl_callback_destroy(callback);
    static_cast<Client*>(data)->sync = nullptr;
}

// Sends everything, waiting while the socket is full, and reads what came.
void flush(wl_display* display) {
    while (wl_display_flush(display) < 0) {
        if (errno != EAGAIN) fail("lost the connection");
        pollfd ready{wl_display_get_fd(display), POLLOUT, 0};
        poll(&ready, 1, -1);
    }
    while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
    pollfd ready{wl_display_get_fd(display), POLLIN, 0};
    if (poll(&ready, 1, 0) > 0) {
        if (wl_display_read_events(display) < 0) fail("lost the connection");
    } else {
        wl_display_cancel_read(display);
    }
    wl_display_dispatch_pending(display);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: inputfeed-raw-wayland SCRIPT\n", stderr);
        return 2;
    }
    Client client;
    client.display = wl_display_connect(nullptr);
    if (!client.display) fail("cannot connect to the Wayland compositor");
    static const wl_registry_listener registryListener{global, globalRemove};
    wl_registry_add_listener(wl_display_get_registry(client.display), &registryListener, &client);
    wl_display_roundtrip(client.display);
    if (!client.seat || !client.outputs || !client.pointers || !client.keyboards) {
        fail("the compositor lacks a seat, xdg-output or the wlroots virtual devices");
    }
    static const zxdg_output_v1_listener outputListener{position, size, done, ignoreName,
                                                        ignoreName};
    Rect rects[8];
    for (int i = 0; i < client.outputCount; ++i) {
        rects[i] = {&client, 0, 0, 0, 0};
        zxdg_output_v1_add_listener(
            zxdg_output_manager_v1_get_xdg_output(client.outputs, client.output[i]),
            &outputListener, &rects[i]);
    }
    wl_display_roundtrip(client.display);

    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) fail("cannot compile a US keymap");
    xkb_state* state = xkb_state_new(keymap);
    const auto actions = inputfeed::bench::readScript(argv[1], [keymap](std::string_view name) {
        const xkb_keysym_t wanted =
            xkb_keysym_from_name(std::string(name).c_str(), XKB_KEYSYM_NO_FLAGS);
        for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap);
             code <= xkb_keymap_max_keycode(keymap); ++code) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) > 0 &&
                syms[0] == wanted) {
                return static_cast<unsigned>(code - 8);  // evdev numbering
            }
        }
        return 0u;
    });

    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const std::size_t textSize = std::strlen(text) + 1;
    const int fd = memfd_create("inputfeed-raw-keymap", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text, textSize) != static_cast<ssize_t>(textSize)) {
        fail("cannot write the keymap");
    }
    std::free(text);
    auto* keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(client.keyboards, client.seat);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(textSize));
    close(fd);
    auto* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(client.pointers, client.seat);
    wl_display_roundtrip(client.display);

    const auto width = static_cast<std::uint32_t>(client.right - client.left) * 256;
    const auto height = static_cast<std::uint32_t>(client.bottom - client.top) * 256;
    static const wl_callback_listener syncListener{synced};
    unsigned long sent = 0;
    for (const Action& action : actions) {
        switch (action.kind) {
            case Action::motion:
                zwlr_virtual_pointer_v1_motion_absolute(
                    pointer, 0, static_cast<std::uint32_t>(action.x - client.left) * 256,
                    static_cast<std::uint32_t>(action.y - client.top) * 256, width, height);
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
        if (++sent % 32 == 0) flush(client.display);
        if (sent % 128 == 0) {
            while (client.sync) {
                flush(client.display);
                pollfd ready{wl_display_get_fd(client.display), POLLIN, 0};
                if (client.sync) poll(&ready, 1, -1);
            }
            client.sync = wl_display_sync(client.display);
            wl_callback_add_listener(client.sync, &syncListener, &client);
        }
    }
    if (wl_display_roundtrip(client.display) < 0) fail("lost the connection");
    wl_display_disconnect(client.display);
    xkb_state_unref(state);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return 0;
}
