// inputfeed-observe-wayland: runs a command while a full-screen window on every
// output of the Wayland compositor records the input it receives, and prints
// each event as it arrives, one line per event:
//
//   motion X Y                  the pointer entered a window or moved, to (X, Y)
//   button press|release B X Y  evdev button B went down or up at (X, Y)
//   key press|release K SYM     evdev key K went down or up; SYM is the keysym it
//                               types with the modifiers in effect (Shift: "A")
//   modifiers NAMES             the modifiers in effect changed (NAMES: "none", or
//                               the keymap's names, such as "Shift Control")
//   keymap NAME                 the next key is read with the layout NAME, which
//                               is not the one the keyboard had at the start
//
// and last "pointer X Y", where the pointer was last seen.
//
// Positions are the compositor's global logical coordinates, exact to the
// 1/256 that Wayland carries; a motion to where the pointer already is is not
// repeated.
//
//   inputfeed-observe-wayland [--layout L] [--home X Y] [--count|--quiet|--stand-ins]
//                             [--switches N] [--time] COMMAND [ARG...]
//
// The command runs once the windows are shown and one has the keyboard focus
// (input sent earlier would be lost). On a seat without a pointer or keyboard
// (a headless compositor's), it holds stand-ins for them; --layout L makes the
// stand-in keyboard one with the XKB layout L (default us) and the seat's
// current keyboard, as if the user had just typed on it (L with a slash: the
// keymap in that file). --home first moves
// the pointer to (X, Y), unreported, so that the report does not depend on
// where an earlier run left it (on Mutter, which offers clients no pointer,
// through the stand-in agent reading the pipe INPUTFEED_STAND_IN names).
// --count prints only the number of events of each kind at the end, --quiet
// nothing (the windows and stand-ins are still there for another observer),
// --time the seconds from the first event to the last. --stand-ins shows no
// windows and prints nothing: it only holds the stand-ins while the command
// runs, like a keyboard plugged in meanwhile; --switches N then makes the
// seat's current keyboard switch N times between the stand-in keyboard and a
// US one, as two keyboards typed on in turn. The exit status is the command's;
// 2 when the observer fails or the compositor drops its connection (after one
// line on standard error).
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "wayland_windows.h"

namespace {

using inputfeed::observe::Windows;

double now() {
    return inputfeed::monotonic<std::chrono::duration<double>>();
}

// A multiple of 1/256 in the fewest decimals that are exact.
const char* number(double value, char (&buffer)[32]) {
    std::snprintf(buffer, sizeof buffer, "%.8f", value);
    char* end = buffer + std::strlen(buffer);
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
    *end = '\0';
    return std::strcmp(buffer, "-0") == 0 ? "0" : buffer;
}

class Printer final : public inputfeed::observe::InputSink {
public:
    bool running = false;
    bool counting = false;
    unsigned long motions = 0, buttons = 0, keys = 0;
    double first = 0, last = 0;

    void pointerAt(double x, double y) override {
        if (known_ && x == x_ && y == y_) return;
        known_ = true;
        x_ = x;
        y_ = y;
        if (!seen()) return;
        ++motions;
        char bx[32], by[32];
        if (!counting) std::printf("motion %s %s\n", number(x, bx), number(y, by));
    }
    void button(std::uint32_t button, bool down, double x, double y) override {
        if (!seen()) return;
        ++buttons;
        char bx[32], by[32];
        if (!counting) {
            std::printf("button %s %u %s %s\n", down ? "press" : "release", button, number(x, bx),
                        number(y, by));
        }
    }
    void key(std::uint32_t key, bool down, xkb_keysym_t keysym) override {
        if (!seen()) return;
        ++keys;
        char name[64];
        if (xkb_keysym_get_name(keysym, name, sizeof name) < 0) std::strcpy(name, "NoSymbol");
        if (counting) return;
        // The layout the key was read with, when it is not the one at the start.
        if (layout_ != printedLayout_) std::printf("keymap %s\n", layout_.c_str());
        printedLayout_ = layout_;
        std::printf("key %s %u %s\n", down ? "press" : "release", key, name);
    }
    void modifiers(const char* names) override {
        if (seen() && !counting) std::printf("modifiers %s\n", names);
    }
    void keymap(const char* name) override {
        layout_ = name;
        if (!running) printedLayout_ = layout_;
    }

    void printPointer() {
        char bx[32], by[32];
        if (known_ && !counting) std::printf("pointer %s %s\n", number(x_, bx), number(y_, by));
    }

private:
    bool seen() {
        if (!running) return false;
        last = now();
        if (first == 0) first = last;
        return true;
    }
    bool known_ = false;
    double x_ = 0, y_ = 0;
    std::string layout_, printedLayout_;
};

int usage() {
    std::fputs(
        "usage: inputfeed-observe-wayland [--layout L] [--home X Y] [--count|--quiet|--stand-ins] "
        "[--switches N] [--time] "
        "COMMAND [ARG...]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* layout = nullptr;
    double home[2] = {0, 0};
    bool homing = false;
    bool timing = false;
    bool quiet = false;
    bool standInsOnly = false;
    unsigned switches = 0;
    Printer printer;
    int first = 1;
    for (; first < argc && std::string_view(argv[first]).starts_with("--"); ++first) {
        const std::string_view option = argv[first];
        if (option == "--layout" && first + 1 < argc) {
            layout = argv[++first];
        } else if (option == "--home" && first + 2 < argc) {
            home[0] = std::atof(argv[++first]);
            home[1] = std::atof(argv[++first]);
            homing = true;
        } else if (option == "--count") {
            printer.counting = true;
        } else if (option == "--stand-ins") {
            standInsOnly = printer.counting = quiet = true;
        } else if (option == "--quiet") {
            printer.counting = quiet = true;
        } else if (option == "--switches" && first + 1 < argc) {
            switches = static_cast<unsigned>(std::atoi(argv[++first]));
        } else if (option == "--time") {
            timing = true;
        } else {
            return usage();
        }
    }
    if (first >= argc) return usage();

    Windows::Options options;
    options.layout = layout;
    if (homing) options.home = home;
    options.windows = !standInsOnly;
    options.switches = switches;
    const auto windows = Windows::open(printer, options);
    if (!windows) return 2;
    printer.running = true;
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        // The command ends with the observer, also when a lost connection ends the observer.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execvp(argv[first], argv + first);
        std::perror(argv[first]);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        pollfd ready{windows->fd(), POLLIN, 0};
        if (poll(&ready, 1, 10) == 0) std::fflush(stdout);
        windows->dispatch();
    }
    // Whatever the command caused has been sent to us before this answer.
    windows->roundtrip();
    printer.printPointer();
    if (printer.counting && !quiet) {
        std::printf("motions %lu buttons %lu keys %lu\n", printer.motions, printer.buttons,
                    printer.keys);
    }
    if (timing) std::printf("seconds %.6f\n", printer.last - printer.first);
    std::fflush(stdout);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + WTERMSIG(status);
}
