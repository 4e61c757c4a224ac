// The dry run: instead of posting input, writes one line per platform call to
// standard output (the form is in trace_format.h).

#include <cstddef>

#include "platform/platform.h"
#include "platform/streams.h"
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
        // Once the output is gone (closed, no reader, full disk) the report can
        // reach no one, so it is dropped from then on while the input is still
        // read to its end, as the agent would.
        if (!broken_ && used_ > 0) broken_ = !writeOutput(out_, used_);
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
    return std::make_unique<TracePlatform>();
}

}  // namespace inputfeed
