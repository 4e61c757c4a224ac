// inputfeed-observe: runs a command while recording the input events the X
// server processes, and prints each one as it happens, one line per event:
//
//   motion X Y                      the pointer moved to (X, Y) on the root window
//   button press|release B X Y      X button B went down or up with the pointer at (X, Y)
//   key press|release K KEYSYM      keycode K went down or up; KEYSYM is what it types
//                                   unshifted in the current layout
//
// and last "pointer X Y", where the pointer rests once the command has ended.
// It records with the RECORD extension, which reports the positions the server
// settled on (after confining the pointer to the screen), in the server's order.
//
//   inputfeed-observe [--home X Y] COMMAND [ARG...]
//   inputfeed-observe --window X Y WIDTH HEIGHT COMMAND [ARG...]
//
// --home first moves the pointer to (X, Y) unrecorded, so that output does not
// depend on where an earlier run left it. --window prints instead what one
// window at that place receives, with no "pointer" line: on an X server that
// serves a Wayland compositor (Xwayland), input reaches the server only while
// one of its windows is under the pointer or has the focus. The exit status is
// the command's.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/record.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Recording {
    Display* control = nullptr;
    bool started = false;
    bool ended = false;
};

void printEvent(Display* control, const xEvent& event) {
    const int type = event.u.u.type & 0x7f;
    const auto& pointer = event.u.keyButtonPointer;
    const char* phase = (type == KeyPress || type == ButtonPress) ? "press" : "release";
    switch (type) {
        case MotionNotify: std::printf("motion %d %d\n", pointer.rootX, pointer.rootY); break;
        case ButtonPress:
        case ButtonRelease:
            std::printf("button %s %u %d %d\n", phase, event.u.u.detail, pointer.rootX,
                        pointer.rootY);
            break;
        case KeyPress:
        case KeyRelease: {
            const KeySym sym = XkbKeycodeToKeysym(control, event.u.u.detail, 0, 0);
            const char* name = sym == NoSymbol ? nullptr : XKeysymToString(sym);
            std::printf("key %s %u %s\n", phase, event.u.u.detail, name ? name : "NoSymbol");
            break;
        }
        default: return;
    }
    std::fflush(stdout);
}

void onRecorded(XPointer closure, XRecordInterceptData* data) {
    auto* recording = reinterpret_cast<Recording*>(closure);
    switch (data->category) {
        case XRecordStartOfData: recording->started = true; break;
        case XRecordEndOfData: recording->ended = true; break;
        case XRecordFromServer:
            if (data->data_len * 4 >= sizeof(xEvent)) {
                xEvent event;
                std::memcpy(&event, data->data, sizeof event);
                printEvent(recording->control, event);
            }
            break;
        default: break;
    }
    XRecordFreeData(data);
}

// Handles whatever the recording connection has delivered, waiting up to
// `timeoutMs` for something to arrive. The server hands recorded events over
// only when it next writes to some client, and events posted through XTEST
// make it write nothing; a round trip of our own makes it write.
void pump(Display* control, Display* data, int timeoutMs) {
    XSync(control, False);
    pollfd fd{ConnectionNumber(data), POLLIN, 0};
    poll(&fd, 1, timeoutMs);
    XRecordProcessReplies(data);
}

int fail(const char* message) {
    std::fprintf(stderr, "inputfeed-observe: %s\n", message);
    return 2;
}

pid_t start(char** command) {
    const pid_t child = fork();
    if (child == 0) {
        execvp(command[0], command);
        std::perror(command[0]);
        _exit(127);
    }
    return child;
}

int exitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// --window: an override-redirect window (which a compositor shows where it
// asks to be, and focuses) printing the input it receives. It leaves the X
// input focus alone: a compositor's window manager takes back a focus that a
// client sets itself, sometimes only after keys went astray. Its events come
// from the compositor by way of the X server, with no way to wait for them
// to be through; after the command ends it waits for 300 ms of quiet.
int watchWindow(Display* display, const int (&place)[4], char** command) {
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    attributes.event_mask = PointerMotionMask | ButtonPressMask | ButtonReleaseMask | KeyPressMask |
                            KeyReleaseMask | StructureNotifyMask;
    const Window window = XCreateWindow(
        display, DefaultRootWindow(display), place[0], place[1], static_cast<unsigned>(place[2]),
        static_cast<unsigned>(place[3]), 0, CopyFromParent, InputOutput, CopyFromParent,
        CWOverrideRedirect | CWBackPixel | CWEventMask, &attributes);
    XMapRaised(display, window);
    XEvent event;
    do XNextEvent(display, &event);
    while (event.type != MapNotify);
    XSync(display, False);

    const pid_t child = start(command);
    if (child < 0) return fail("cannot start the command");
    int status = 0;
    bool running = true;
    for (int quiet = 0; running || quiet < 30;) {
        if (running && waitpid(child, &status, WNOHANG) != 0) running = false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        quiet = XPending(display) > 0 || poll(&fd, 1, 10) > 0 ? 0 : quiet + 1;
        while (XPending(display) > 0) {
            XNextEvent(display, &event);
            xEvent wire{};
            wire.u.u.type = static_cast<BYTE>(event.type);
            if (event.type == MotionNotify) {
                wire.u.keyButtonPointer.rootX = static_cast<INT16>(event.xmotion.x_root);
                wire.u.keyButtonPointer.rootY = static_cast<INT16>(event.xmotion.y_root);
            } else if (event.type == ButtonPress || event.type == ButtonRelease) {
                wire.u.u.detail = static_cast<BYTE>(event.xbutton.button);
                wire.u.keyButtonPointer.rootX = static_cast<INT16>(event.xbutton.x_root);
                wire.u.keyButtonPointer.rootY = static_cast<INT16>(event.xbutton.y_root);
            } else if (event.type == KeyPress || event.type == KeyRelease) {
                wire.u.u.detail = static_cast<BYTE>(event.xkey.keycode);
            }
            printEvent(display, wire);
        }
    }
    XCloseDisplay(display);
    return exitStatus(status);
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    bool home = false;
    int homeX = 0;
    int homeY = 0;
    if (argc > 6 && std::strcmp(argv[1], "--window") == 0) {
        Display* display = XOpenDisplay(nullptr);
        if (!display) return fail("cannot open the display");
        const int place[4] = {std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                              std::atoi(argv[5])};
        return watchWindow(display, place, argv + 6);
    }
    if (argc > 3 && std::strcmp(argv[1], "--home") == 0) {
        home = true;
        homeX = std::atoi(argv[2]);
        homeY = std::atoi(argv[3]);
        first = 4;
    }
    if (first >= argc)
        return fail("usage: inputfeed-observe [--home X Y | --window X Y W H] COMMAND [ARG...]");

    // RECORD needs two connections: one switches to delivering recorded data,
    // the other controls the recording and answers keysym and pointer queries.
    Display* control = XOpenDisplay(nullptr);
    Display* data = XOpenDisplay(nullptr);
    if (!control || !data) return fail("cannot open the display");
    int major = 0;
    int minor = 0;
    if (!XRecordQueryVersion(control, &major, &minor)) return fail("no RECORD extension");
    if (home) {
        XTestFakeMotionEvent(control, DefaultScreen(control), homeX, homeY, CurrentTime);
        XSync(control, False);
    }

    XRecordRange* range = XRecordAllocRange();
    range->device_events.first = KeyPress;
    range->device_events.last = MotionNotify;
    XRecordClientSpec clients = XRecordAllClients;
    const XRecordContext context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
    XFree(range);
    if (!context) return fail("cannot create a recording context");
    XSync(control, False);

    Recording recording{control};
    if (!XRecordEnableContextAsync(data, context, onRecorded,
                                   reinterpret_cast<XPointer>(&recording))) {
        return fail("cannot start recording");
    }
    while (!recording.started) pump(control, data, 100);

    const pid_t child = start(argv + first);
    if (child < 0) return fail("cannot start the command");
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) pump(control, data, 10);

    // Everything the command sent has been processed by now (closing its
    // display waits for that); disabling makes the server deliver the rest.
    XRecordDisableContext(control, context);
    XFlush(control);
    while (!recording.ended) pump(control, data, 100);
    XRecordFreeContext(control, context);

    Window root = 0;
    Window child_window = 0;
    int rootX = 0;
    int rootY = 0;
    int winX = 0;
    int winY = 0;
    unsigned int mask = 0;
    XQueryPointer(control, DefaultRootWindow(control), &root, &child_window, &rootX, &rootY, &winX,
                  &winY, &mask);
    std::printf("pointer %d %d\n", rootX, rootY);
    std::fflush(stdout);
    XCloseDisplay(data);
    XCloseDisplay(control);
    return exitStatus(status);
}
