#pragma once

// The benchmark scripts the raw clients post: one command per line,
// "mousemove X Y", "keydown SYM", "keyup SYM", "mousedown N", "mouseup N"
// ("--name value" options are skipped), so the script given to xdotool serves
// unchanged.

#include <functional>
#include <string_view>
#include <vector>

namespace inputfeed::bench {

struct Action {
    enum Kind { motion, key, button } kind;
    int x = 0;
    int y = 0;
    unsigned detail = 0;  // key code or button number
    bool down = false;
};

// Returns the platform's code for a keysym name, or 0 for none.
using KeyResolver = std::function<unsigned(std::string_view keysym)>;

// Reads the whole script and resolves each key name once, before anything is
// posted, so that reading costs as little as possible of the measured time.
// Exits with a message on a line it cannot read or a key it cannot resolve.
std::vector<Action> readScript(const char* path, const KeyResolver& resolve);

}  // namespace inputfeed::bench
