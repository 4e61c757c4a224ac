// The macOS backend: events are created and posted through Quartz Event
// Services (CoreGraphics), and the trust request goes to the accessibility API
// (ApplicationServices). These five calls, and CFRelease, are all it uses.

#include <ApplicationServices/ApplicationServices.h>

#include <memory>

#include "platform/platform.h"

namespace inputfeed {
namespace {

// The options of the one trust request: {kAXTrustedCheckOptionPrompt: true}.
// Built on first use and never released, so it lives until the process exits.
CFDictionaryRef trustOptions() {
    static const CFDictionaryRef options = [] {
        const void* keys[] = {kAXTrustedCheckOptionPrompt};
        const void* values[] = {kCFBooleanTrue};
        // A null allocator selects the default one.
        return CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                  &kCFTypeDictionaryValueCallBacks);
    }();
    return options;
}

class MacPlatform final : public Platform {
public:
    void requestTrust() override {
        // With the prompt option, macOS asks the user to grant Accessibility
        // access (to the application that started the agent) if it is not
        // granted yet. The answer is deliberately ignored: until access is
        // granted the system silently drops the events we post, and the agent
        // carries on regardless.
        (void)AXIsProcessTrustedWithOptions(trustOptions());
    }

    // Each creation keeps the CGEventRef it made; the agent holds one event at a
    // time, so posting and releasing it find it here.
    std::optional<Event> createMouseEvent(EventType type, double x, double y,
                                          MouseButton button) override {
        // No event source: the event carries the system's default state. The
        // position is in global display points, origin at the top-left of the
        // main display, passed through as given.
        live_ = CGEventCreateMouseEvent(nullptr, static_cast<CGEventType>(type), CGPointMake(x, y),
                                        static_cast<CGMouseButton>(button));
        if (!live_) return std::nullopt;
        return Event{.type = type, .x = x, .y = y, .button = button};
    }

    std::optional<Event> createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        live_ = CGEventCreateKeyboardEvent(nullptr, virtualKey, keyDown);
        if (!live_) return std::nullopt;
        return Event{.kind = Event::Kind::keyboard, .virtualKey = virtualKey, .keyDown = keyDown};
    }

    void postEvent(const Event&) override {
        // The HID tap is where hardware input enters the system, so the event is
        // seen by every later tap and application as if from a device.
        if (live_) CGEventPost(kCGHIDEventTap, live_);
    }

    void releaseEvent(const Event&) override {
        // CFRelease(NULL) crashes on macOS, so a null handle is never passed on.
        if (live_) CFRelease(live_);
        live_ = nullptr;
    }

private:
    CGEventRef live_ = nullptr;
};

}  // namespace

std::unique_ptr<Platform> openPlatform() {
    return std::make_unique<MacPlatform>();
}

}  // namespace inputfeed
