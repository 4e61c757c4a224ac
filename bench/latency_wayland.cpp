// The latency probe's Wayland desktop: full-screen windows of our own
// (tools/observe) that receive the pointer motion; the floor is the windows'
// own stand-in pointer, moved directly.
#include <poll.h>

#include "latency.h"
#include "wayland_windows.h"

namespace inputfeed::bench {
namespace {

class WaylandDesktop final : public Desktop, private observe::InputSink {
public:
    WaylandDesktop() {
        const double home[2] = {1, 1};
        windows_ = observe::Windows::open(*this, {.home = home});
        if (!windows_) fail("cannot show the windows");
        arrived_ = -1;  // homing the pointer is not one of ours
    }

    double nextMotion(int timeoutMs) override {
        const double deadline = nowMicros() + timeoutMs * 1000.0;
        while (arrived_ < 0) {
            const double left = deadline - nowMicros();
            if (left <= 0) return -1;
            pollfd fd{windows_->fd(), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left / 1000) + 1);
            windows_->dispatch();
        }
        const double arrived = arrived_;
        arrived_ = -1;
        return arrived;
    }

    int drain() override {
        windows_->dispatch();
        const int dropped = arrived_ < 0 ? 0 : 1;
        arrived_ = -1;
        return dropped;
    }

    void moveRaw(int x, int y) override { windows_->send(x, y); }
    const char* rawName() const override { return "raw virtual pointer"; }

private:
    void pointerAt(double, double) override { arrived_ = nowMicros(); }
    void button(std::uint32_t, bool, double, double) override {}
    void key(std::uint32_t, bool, xkb_keysym_t) override {}
    void modifiers(const char*) override {}
    void keymap(const char*) override {}

    std::unique_ptr<observe::Windows> windows_;
    double arrived_ = -1;
};

}  // namespace

std::unique_ptr<Desktop> openDesktop() {
    return std::make_unique<WaylandDesktop>();
}

}  // namespace inputfeed::bench
