// The X11 throughput benchmark's helpers in one program.
//
//   inputfeed-raw-xtest time MARKER_X MARKER_Y INPUT -- PROGRAM [ARGS...]
//       Parks the pointer at (0, 0), runs PROGRAM with INPUT as its standard
//       input, and prints the seconds from its start until the X server has
//       processed its last event (then the seconds until it exited). The input
//       must end with a move to the marker position and use it nowhere else. A
//       client's requests are processed in order, and the pointer position only
//       changes once an event has gone through the server's input processing, so
//       seeing the pointer at the marker (polled on our own connection after
//       PROGRAM has exited) proves that every earlier event of PROGRAM has been
//       processed too. Polling, unlike one round trip on a fresh connection, does
//       not rely on how the server orders requests from different clients.
//
//   inputfeed-raw-xtest limit MARKER_X MARKER_Y SCRIPT [BATCH]
//       The platform's limit: posts the events of a script straight through
//       XTest from this process, one flush per BATCH events (default 256), timed
//       as "time" does. The clock starts only once the connection is open and
//       the script has been read and its key names resolved, so it counts
//       nothing but posting and the server's work.
//
//   inputfeed-raw-xtest post SCRIPT [BATCH]
//       Posts the script the same way as a program of its own.
//
// A script is what bench/script.h reads: the script given to xdotool serves
// here unchanged.

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "script.h"

namespace {

using inputfeed::bench::Action;

double now() {
    return inputfeed::monotonic<std::chrono::duration<double>>();
}

Display* openDisplay() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "inputfeed-raw-xtest: cannot open display\n");
        std::exit(1);
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "inputfeed-raw-xtest: no XTEST extension\n");
        std::exit(1);
    }
    return display;
}

// Key names resolved by the server's current keymap.
std::vector<Action> readScript(Display* display, const char* path) {
    return inputfeed::bench::readScript(path, [display](std::string_view name) -> unsigned {
        const std::string text(name);
        return XKeysymToKeycode(display, XStringToKeysym(text.c_str()));
    });
}

void postActions(Display* display, const std::vector<Action>& actions, unsigned long batch) {
    unsigned long pending = 0;
    for (const Action& action : actions) {
        switch (action.kind) {
            case Action::motion:
                XTestFakeMotionEvent(display, -1, action.x, action.y, CurrentTime);
                break;
            case Action::key:
                XTestFakeKeyEvent(display, action.detail, action.down, CurrentTime);
                break;
            case Action::button:
                XTestFakeButtonEvent(display, action.detail, action.down, CurrentTime);
                break;
        }
        if (++pending == batch) {
            XFlush(display);
            pending = 0;
        }
    }
    XFlush(display);
}

int post(const char* path, unsigned long batch) {
    Display* display = openDisplay();
    postActions(display, readScript(display, path), batch);
    XCloseDisplay(display);
    return 0;
}

bool pointerAt(Display* display, int x, int y) {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, winX = 0, winY = 0;
    unsigned mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &winX, &winY,
                  &mask);
    return rootX == x && rootY == y;
}

// Parks the pointer away from the marker on the observing connection.
Display* parkPointer(int markerX, int markerY) {
    Display* display = openDisplay();
    XTestFakeMotionEvent(display, -1, 0, 0, CurrentTime);
    XSync(display, False);
    if (pointerAt(display, markerX, markerY)) {
        std::fprintf(stderr, "inputfeed-raw-xtest: the marker must not be (0, 0)\n");
        std::exit(1);
    }
    return display;
}

// Polls until the pointer is at the marker; returns when it got there.
double awaitMarker(Display* display, int markerX, int markerY) {
    const double since = now();
    while (!pointerAt(display, markerX, markerY)) {
        if (now() - since > 60) {
            std::fprintf(stderr, "inputfeed-raw-xtest: the marker never arrived\n");
            std::exit(1);
        }
    }
    return now();
}

int timeRun(int markerX, int markerY, const char* input, char** program) {
    Display* display = parkPointer(markerX, markerY);
    const int inputFd = open(input, O_RDONLY);
    if (inputFd < 0) {
        std::fprintf(stderr, "inputfeed-raw-xtest: cannot read %s\n", input);
        return 1;
    }
    const double start = now();
    const pid_t child = fork();
    if (child == 0) {
        dup2(inputFd, STDIN_FILENO);
        execvp(program[0], program);
        std::fprintf(stderr, "inputfeed-raw-xtest: cannot run %s\n", program[0]);
        _exit(127);
    }
    close(inputFd);
    int status = 0;
    waitpid(child, &status, 0);
    const double exited = now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "inputfeed-raw-xtest: %s failed (status %d)\n", program[0], status);
        return 1;
    }
    const double processed = awaitMarker(display, markerX, markerY);
    std::printf("%.6f %.6f\n", processed - start, exited - start);
    XCloseDisplay(display);
    return 0;
}

// The limit: the clock starts once the script is read and the connection is
// open, so it counts nothing but posting and the server's processing.
int timeLimit(int markerX, int markerY, const char* path, unsigned long batch) {
    Display* display = parkPointer(markerX, markerY);
    Display* poster = openDisplay();
    const std::vector<Action> actions = readScript(poster, path);
    const double start = now();
    postActions(poster, actions, batch);
    const double posted = now();
    const double processed = awaitMarker(display, markerX, markerY);
    std::printf("%.6f %.6f\n", processed - start, posted - start);
    XCloseDisplay(poster);
    XCloseDisplay(display);
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: inputfeed-raw-xtest post SCRIPT [BATCH]\n"
                 "       inputfeed-raw-xtest time MARKER_X MARKER_Y INPUT -- PROGRAM [ARGS...]\n"
                 "       inputfeed-raw-xtest limit MARKER_X MARKER_Y SCRIPT [BATCH]\n");
    return 2;
}

unsigned long batchArgument(int argc, char** argv, int at) {
    return argc > at ? std::max(1ul, std::strtoul(argv[at], nullptr, 10)) : 256ul;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc >= 2 ? argv[1] : "";
    if (mode == "post" && argc >= 3) return post(argv[2], batchArgument(argc, argv, 3));
    if (mode == "time" && argc >= 7 && std::strcmp(argv[5], "--") == 0) {
        return timeRun(std::atoi(argv[2]), std::atoi(argv[3]), argv[4], argv + 6);
    }
    if (mode == "limit" && argc >= 5) {
        return timeLimit(std::atoi(argv[2]), std::atoi(argv[3]), argv[4],
                         batchArgument(argc, argv, 5));
    }
    return usage();
}
