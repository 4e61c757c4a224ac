#include "platform/device_platform.h"

namespace inputfeed {
namespace {

enum class Action : std::uint8_t { none, move, press, release };

constexpr Action actionOf(EventType type) {
    switch (type) {
        case kCGEventMouseMoved: return Action::move;
        case kCGEventLeftMouseDown:
        case kCGEventRightMouseDown:
        case kCGEventOtherMouseDown: return Action::press;
        case kCGEventLeftMouseUp:
        case kCGEventRightMouseUp:
        case kCGEventOtherMouseUp: return Action::release;
        default: return Action::none;
    }
}

constexpr std::optional<Button> buttonOf(MouseButton button) {
    switch (button) {
        case kCGMouseButtonLeft: return Button::left;
        case kCGMouseButtonCenter: return Button::middle;
        case kCGMouseButtonRight: return Button::right;
        default: return std::nullopt;
    }
}

// A move carries a button too, which it does not use.
constexpr bool postable(Action action, MouseButton button) {
    return action == Action::move || (action != Action::none && buttonOf(button));
}

}  // namespace

std::optional<Event> DevicePlatform::createMouseEvent(EventType type, double x, double y,
                                                      MouseButton button) {
    if (!postable(actionOf(type), button)) return std::nullopt;
    return Event{.type = type, .x = x, .y = y, .button = button};
}

std::optional<Event> DevicePlatform::createKeyboardEvent(VirtualKey virtualKey, bool keyDown) {
    if (!hasKey(virtualKey)) return std::nullopt;
    return Event{.kind = Event::Kind::keyboard, .virtualKey = virtualKey, .keyDown = keyDown};
}

void DevicePlatform::postEvent(const Event& event) {
    if (event.kind == Event::Kind::keyboard) {
        key(event.virtualKey, event.keyDown);
    } else {
        const Action action = actionOf(event.type);
        if (!postable(action, event.button)) return;
        moveTo(event.x, event.y);
        if (action != Action::move) button(*buttonOf(event.button), action == Action::press);
    }
    eventDone();
}

}  // namespace inputfeed
