// The dry run: instead of posting input, writes one line per platform call to
// standard output (the form is in trace_format.h).

#include <cstddef>

#include "platform/platform.h"
#include "platform/streams.h"
#include "platform/trace_format.h"

namespace inputfeed {

namespace {

class TracePlatform final : public Platform {
public:
    ~TracePlatform() override { flush(); }

    void requestTrust() override {
        makeRoom();
        used_ += formatTrustLine(out_ + used_);
    }

    std::optional<Event> createMouseEvent(EventType type, double x, double y,
                                          MouseButton button) override {
        return Event{.type = type, .x = x, .y = y, .button = button};
    }

    std::optional<Event> createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        return Event{.kind = Event::Kind::keyboard, .virtualKey = virtualKey, .keyDown = keyDown};
    }

    void postEvent(const Event& event) override {
        makeRoom();
        used_ += formatEventLine(out_ + used_, event);
    }

    // Nothing to give back: the event is a plain value.
    void releaseEvent(const Event&) override {}

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

    std::size_t used_ = 0;
    bool broken_ = false;
    char out_[std::size_t{64} << 10];
};

}  // namespace

std::unique_ptr<Platform> openPlatform() {
    return std::make_unique<TracePlatform>();
}

}  // namespace inputfeed
