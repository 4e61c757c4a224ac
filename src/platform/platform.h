#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace inputfeed {

// Platform numbers, as the macOS event services define them. Every backend
// receives these values and translates them into its own where it must.
using EventType = std::uint32_t;    // CGEventType
using MouseButton = std::uint32_t;  // CGMouseButton
using VirtualKey = std::uint16_t;   // CGKeyCode

inline constexpr EventType kCGEventLeftMouseDown = 1;
inline constexpr EventType kCGEventLeftMouseUp = 2;
inline constexpr EventType kCGEventRightMouseDown = 3;
inline constexpr EventType kCGEventRightMouseUp = 4;
inline constexpr EventType kCGEventMouseMoved = 5;
inline constexpr EventType kCGEventOtherMouseDown = 25;
inline constexpr EventType kCGEventOtherMouseUp = 26;

inline constexpr MouseButton kCGMouseButtonLeft = 0;
inline constexpr MouseButton kCGMouseButtonRight = 1;
inline constexpr MouseButton kCGMouseButtonCenter = 2;

// One created input event, as the agent asked for it (CoreGraphics terms). A
// plain value: the loop holds at most one, and posts and releases it once.
struct Event {
    enum class Kind : std::uint8_t { mouse, keyboard };
    Kind kind = Kind::mouse;
    EventType type = 0;         // mouse: kCGEvent*
    double x = 0, y = 0;        // mouse: global position, unchanged
    MouseButton button = 0;     // mouse: kCGMouseButton*
    VirtualKey virtualKey = 0;  // keyboard
    bool keyDown = false;       // keyboard
};

// The five operations through which the agent reaches the platform's event
// services, plus the hooks of the event loop. Calling order for every event:
// create, post once, release once, all within the line that produced it.
class Platform {
public:
    virtual ~Platform() = default;

    // Asks the platform once, at start-up, for permission to post input. The
    // answer is not consulted.
    virtual void requestTrust() = 0;
    // Nothing when the platform creates no event.
    virtual std::optional<Event> createMouseEvent(EventType type, double x, double y,
                                                  MouseButton button) = 0;
    virtual std::optional<Event> createKeyboardEvent(VirtualKey virtualKey, bool keyDown) = 0;
    // Posts at the point where hardware input enters the system.
    virtual void postEvent(const Event& event) = 0;
    virtual void releaseEvent(const Event& event) = 0;

    // Called before the agent may block waiting for input, and at the end: a
    // backend that batches delivery must hand over everything posted so far.
    virtual void flush() {}

    // The event loop: a descriptor the agent waits on together with standard
    // input (-1: none), and what to do when it is readable or hung up: take in
    // what the display sent; when the display is gone, one line on standard
    // error and exit status 1.
    virtual int connectionFd() const { return -1; }
    virtual void dispatchIncoming() {}
};

// Opens the platform this program was built for. Returns nothing when no event
// could ever be posted (the backend has then said why on standard error).
std::unique_ptr<Platform> openPlatform();

}  // namespace inputfeed
