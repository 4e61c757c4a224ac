#pragma once

// Helpers for backends that keep their own event records (X11, Wayland, Windows)
// rather than handing out the platform's objects.

#include "platform/platform.h"

namespace inputfeed {

// What a mouse event type asks for; the button comes separately.
enum class MouseAction : unsigned char { none, move, press, release };

constexpr MouseAction mouseAction(EventType type) {
    switch (type) {
        case kCGEventMouseMoved: return MouseAction::move;
        case kCGEventLeftMouseDown:
        case kCGEventRightMouseDown:
        case kCGEventOtherMouseDown: return MouseAction::press;
        case kCGEventLeftMouseUp:
        case kCGEventRightMouseUp:
        case kCGEventOtherMouseUp: return MouseAction::release;
        default: return MouseAction::none;
    }
}

// The agent holds at most one event at a time (create, post, release within a
// line), so one reusable slot serves every event without allocating.
//
// The core never looks inside an EventRef: here it stands for the slot's record,
// of a type private to the backend. Backends do not each define PlatformEvent,
// since the Linux agent links two of them into one program; a pointer converted
// to another object pointer type and back is the same pointer.
template <typename Event>
class EventSlot {
public:
    // Null while the slot is taken: a second live event is a misuse.
    EventRef take(const Event& event) {
        if (inUse_) return nullptr;
        event_ = event;
        inUse_ = true;
        return handle();
    }
    // The event behind a handle this slot gave out and that is still live, else null.
    Event* live(EventRef ref) { return ref == handle() && inUse_ ? &event_ : nullptr; }
    void release(EventRef ref) {
        if (ref == handle()) inUse_ = false;
    }

private:
    EventRef handle() { return reinterpret_cast<EventRef>(&event_); }

    Event event_{};
    bool inUse_ = false;
};

}  // namespace inputfeed
