// The dry run: instead of posting input, writes one line per platform call to
// standard output (the form is in trace_format.h).

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>

#include "platform/platform.h"
#include "platform/trace_format.h"

namespace inputfeed {

// The loop holds at most one event at a time, so the backend keeps a single
// slot and hands out its address: no allocation per event.
struct PlatformEvent {
    bool keyboard = false;
    EventType type = 0;
    double x = 0;
    double y = 0;
    MouseButton button = 0;
    VirtualKey virtualKey = 0;
    bool keyDown = false;
};

namespace {

class TracePlatform final : public Platform {
public:
    ~TracePlatform() override { flush(); }

    void requestTrust() override {
        makeRoom();
        used_ += formatTrustLine(out_ + used_);
    }

    EventRef createMouseEvent(EventType type, double x, double y, MouseButton button) override {
        slot_ = {};
        slot_.type = type;
        slot_.x = x;
        slot_.y = y;
        slot_.button = button;
        return &slot_;
    }

    EventRef createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        slot_ = {};
        slot_.keyboard = true;
        slot_.virtualKey = virtualKey;
        slot_.keyDown = keyDown;
        return &slot_;
    }

    void postEvent(EventRef event) override {
        makeRoom();
        used_ += event->keyboard ? formatKeyLine(out_ + used_, event->virtualKey, event->keyDown)
                                 : formatMouseLine(out_ + used_, event->type, event->x, event->y,
                                                   event->button);
    }

    // Nothing to give back: the slot is reused by the next creation.
    void releaseEvent(EventRef) override {}

    void flush() override {
        std::size_t done = 0;
        while (done < used_ && !broken_) {
            const ssize_t n = ::write(STDOUT_FILENO, out_ + done, used_ - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // Standard output inherited in non-blocking mode: wait, do not drop.
                pollfd ready{STDOUT_FILENO, POLLOUT, 0};
                if (::poll(&ready, 1, -1) < 0 && errno != EINTR) broken_ = true;
            } else {
                // Closed or failed output (no reader, full disk, ...): the report
                // can no longer reach anyone, so it is dropped from here on while
                // the input is still read to its end, as the agent would.
                broken_ = true;
            }
        }
        used_ = 0;
    }

private:
    void makeRoom() {
        if (sizeof out_ - used_ < kMaxTraceLine) flush();
    }

    PlatformEvent slot_;
    std::size_t used_ = 0;
    bool broken_ = false;
    char out_[std::size_t{64} << 10];
};

}  // namespace

std::unique_ptr<Platform> openPlatform() {
    // Without this a reader that goes away would kill the dry run with SIGPIPE;
    // the failed write is handled in flush() instead.
    std::signal(SIGPIPE, SIG_IGN);
    return std::make_unique<TracePlatform>();
}

}  // namespace inputfeed
