// The latency probe's X11 desktop: XInput2 raw motion events on a connection
// of our own, which the server sends as it processes each event; the floor is
// our own XTest posts.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include "latency.h"

namespace inputfeed::bench {
namespace {

class X11Desktop final : public Desktop {
public:
    X11Desktop() : display_(XOpenDisplay(nullptr)), poster_(XOpenDisplay(nullptr)) {
        if (!poster_) fail("cannot open display");
        if (!display_) fail("cannot open display");
        int event = 0, error = 0;
        if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error))
            fail("no XInput");
        int major = 2, minor = 1;
        if (XIQueryVersion(display_, &major, &minor) != Success) fail("XInput 2.1 is needed");
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawMotion);
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
        XSync(display_, False);
    }
    ~X11Desktop() override {
        XCloseDisplay(poster_);
        XCloseDisplay(display_);
    }
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    double nextMotion(int timeoutMs) override {
        const double deadline = nowMicros() + timeoutMs * 1000.0;
        for (;;) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.xcookie.type == GenericEvent && event.xcookie.extension == opcode_ &&
                    event.xcookie.evtype == XI_RawMotion) {
                    return nowMicros();
                }
            }
            const double left = deadline - nowMicros();
            if (left <= 0) return -1;
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left / 1000) + 1);
        }
    }

    int drain() override {
        int dropped = 0;
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            ++dropped;
        }
        return dropped;
    }

    void moveRaw(int x, int y) override {
        XTestFakeMotionEvent(poster_, -1, x, y, CurrentTime);
        XFlush(poster_);
    }

    const char* rawName() const override { return "raw XTest"; }

private:
    Display* display_;
    Display* poster_;
    int opcode_ = 0;
};

}  // namespace

std::unique_ptr<Desktop> openDesktop() {
    return std::make_unique<X11Desktop>();
}

}  // namespace inputfeed::bench
