#pragma once

// The base of every backend that posts through input devices of its own (X11,
// Wayland, Windows): the one place where the CoreGraphics event types and
// buttons the agent speaks become moves, presses and releases.

#include "platform/platform.h"

namespace inputfeed {

enum class Button : std::uint8_t { left, middle, right };

class DevicePlatform : public Platform {
public:
    // Device backends have no permission to ask for: they fail at start-up instead.
    void requestTrust() override {}
    // Refuses event types other than the seven mouse types, and a press or
    // release of a button other than left, center and right.
    std::optional<Event> createMouseEvent(EventType type, double x, double y,
                                          MouseButton button) final;
    // Refuses keys the backend lacks (hasKey).
    std::optional<Event> createKeyboardEvent(VirtualKey virtualKey, bool keyDown) final;
    // A move goes to moveTo; a press or release happens where the command says,
    // so it goes to moveTo and then to button. Each event ends with eventDone.
    void postEvent(const Event& event) final;
    void releaseEvent(const Event&) final {}

protected:
    virtual bool hasKey(VirtualKey) const { return true; }
    virtual void moveTo(double x, double y) = 0;       // global coordinates, as given
    virtual void button(Button which, bool down) = 0;  // at the position just moved to
    virtual void key(VirtualKey virtualKey, bool down) = 0;
    virtual void eventDone() {}  // after each posted event: flow control
};

}  // namespace inputfeed
