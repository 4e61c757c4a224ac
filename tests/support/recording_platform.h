#pragma once

// A platform for tests: it records the trust request and every posted event, and
// notes each breach of the calling discipline (trust requested once and first;
// each created event posted at most once and released exactly once; nothing
// created while another event is still unreleased).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace inputfeed {

// One posted event, or the trust request, in a form tests compare whole.
struct Recorded {
    enum class Kind : std::uint8_t { trust, mouse, key } kind;
    EventType type = 0;
    double x = 0;
    double y = 0;
    MouseButton button = 0;
    VirtualKey virtualKey = 0;
    bool keyDown = false;

    static Recorded trust() { return {Kind::trust}; }
    static Recorded mouse(EventType t, double px, double py, MouseButton b) {
        return {Kind::mouse, t, px, py, b};
    }
    static Recorded key(VirtualKey k, bool down) { return {Kind::key, 0, 0, 0, 0, k, down}; }

    friend bool operator==(const Recorded&, const Recorded&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Recorded& r) {
        return os << "{kind " << int(r.kind) << ", type " << r.type << ", " << r.x << ", " << r.y
                  << ", button " << r.button << ", key " << r.virtualKey << ", down " << r.keyDown
                  << "}";
    }
};

struct PlatformEvent {
    Recorded event;
    bool posted = false;
    bool released = false;
};

class RecordingPlatform final : public Platform {
public:
    std::vector<Recorded> posted;         // the trust request and every posted event, in order
    std::vector<std::string> faults;      // breaches of the calling discipline, in order
    std::vector<std::size_t> flushMarks;  // posted.size() at each flush

    void requestTrust() override {
        if (!posted.empty() || !events_.empty()) faults.push_back("trust not requested first");
        posted.push_back(Recorded::trust());
    }
    EventRef createMouseEvent(EventType type, double x, double y, MouseButton button) override {
        return adopt(Recorded::mouse(type, x, y, button));
    }
    EventRef createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        return adopt(Recorded::key(virtualKey, keyDown));
    }
    void postEvent(EventRef event) override {
        if (!owns(event) || event->posted || event->released) {
            return faults.push_back("posted an event not created, or posted or released before");
        }
        event->posted = true;
        posted.push_back(event->event);
    }
    void releaseEvent(EventRef event) override {
        if (!owns(event) || event->released) {
            return faults.push_back("released an event not created, or released before");
        }
        event->released = true;
        ++released_;
    }
    void flush() override { flushMarks.push_back(posted.size()); }

    // Events created and never released.
    std::size_t outstanding() const { return events_.size() - released_; }

private:
    EventRef adopt(const Recorded& event) {
        if (outstanding() > 0) faults.push_back("created an event while another was unreleased");
        events_.push_back(std::make_unique<PlatformEvent>(PlatformEvent{event}));
        return events_.back().get();
    }
    // From the newest: the event handled is nearly always the last one created.
    bool owns(EventRef event) const {
        return std::any_of(events_.rbegin(), events_.rend(),
                           [event](const auto& e) { return e.get() == event; });
    }

    std::vector<std::unique_ptr<PlatformEvent>> events_;
    std::size_t released_ = 0;
};

}  // namespace inputfeed
