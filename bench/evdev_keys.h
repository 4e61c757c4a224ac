#pragma once

// The raw Wayland and GNOME clients' key lookup: a script's keysym name to the
// evdev code of the key that types it unshifted on the given keymap, 0 if none.

#include <xkbcommon/xkbcommon.h>

#include <string>
#include <string_view>

namespace inputfeed::bench {

inline unsigned evdevKeyTyping(xkb_keymap* keymap, std::string_view name) {
    const xkb_keysym_t wanted =
        xkb_keysym_from_name(std::string(name).c_str(), XKB_KEYSYM_NO_FLAGS);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap);
         code <= xkb_keymap_max_keycode(keymap); ++code) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) > 0 && syms[0] == wanted) {
            return static_cast<unsigned>(code - 8);  // evdev numbering
        }
    }
    return 0;
}

}  // namespace inputfeed::bench
