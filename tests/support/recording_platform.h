#pragma once

// A platform for tests: it records every call and checks the agent's calling
// discipline (each created event posted at most once and released exactly once,
// nothing posted after release, nothing left unreleased).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace inputfeed {

struct PlatformEvent {
    bool keyboard = false;
    EventType type = 0;
    double x = 0;
    double y = 0;
    MouseButton button = 0;
    VirtualKey virtualKey = 0;
    bool keyDown = false;
    bool posted = false;
    bool released = false;
};

// One posted event (or the trust request), in a form tests compare whole.
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
        switch (r.kind) {
            case Kind::trust: return os << "trust";
            case Kind::mouse:
                return os << "mouse(type=" << r.type << ", x=" << r.x << ", y=" << r.y
                          << ", button=" << r.button << ")";
            case Kind::key:
                return os << "key(" << r.virtualKey << ", " << (r.keyDown ? "down" : "up") << ")";
        }
        return os;
    }
};

class RecordingPlatform final : public Platform {
public:
    // When set, creation returns null, as a platform that cannot create events does.
    bool failCreation = false;
    // Creation attempts (counted from 0, mouse and keyboard alike) that return null.
    std::set<std::size_t> failAttempts;

    std::vector<Recorded> posted;     // the trust request and every posted event, in order
    std::vector<std::string> faults;  // discipline violations, in the order seen
    std::size_t created = 0;
    std::size_t releasedCount = 0;
    std::size_t flushes = 0;
    std::size_t attempts = 0;             // creation calls, failed ones included
    std::vector<std::size_t> flushMarks;  // posted.size() at each flush

    void requestTrust() override {
        if (trustRequests++ > 0) faults.push_back("second trust request");
        if (created > 0) faults.push_back("trust requested after the first event");
        posted.push_back(Recorded::trust());
    }

    EventRef createMouseEvent(EventType type, double x, double y, MouseButton button) override {
        if (failing()) return nullptr;
        auto& e = adopt();
        e.type = type;
        e.x = x;
        e.y = y;
        e.button = button;
        return &e;
    }

    EventRef createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        if (failing()) return nullptr;
        auto& e = adopt();
        e.keyboard = true;
        e.virtualKey = virtualKey;
        e.keyDown = keyDown;
        return &e;
    }

    void postEvent(EventRef event) override {
        if (!owns(event)) return faults.push_back("posted an event it did not create");
        if (event->released) return faults.push_back("posted a released event");
        if (event->posted) return faults.push_back("posted an event twice");
        event->posted = true;
        posted.push_back(event->keyboard
                             ? Recorded::key(event->virtualKey, event->keyDown)
                             : Recorded::mouse(event->type, event->x, event->y, event->button));
    }

    void releaseEvent(EventRef event) override {
        if (!owns(event)) return faults.push_back("released an event it did not create");
        if (event->released) return faults.push_back("released an event twice");
        event->released = true;
        ++releasedCount;
    }

    void flush() override {
        ++flushes;
        flushMarks.push_back(posted.size());
    }

    // Events created and never released.
    std::size_t outstanding() const { return created - releasedCount; }

    // Drops the bookkeeping of released events, so long runs stay small.
    void compact() {
        std::erase_if(events_, [](const auto& e) { return e->released; });
    }

private:
    bool failing() { return failAttempts.count(attempts++) > 0 || failCreation; }
    PlatformEvent& adopt() {
        if (outstanding() > 0) faults.push_back("created an event while another was unreleased");
        ++created;
        events_.push_back(std::make_unique<PlatformEvent>());
        return *events_.back();
    }
    bool owns(EventRef event) const {
        for (const auto& e : events_)
            if (e.get() == event) return true;
        return false;
    }

    int trustRequests = 0;
    std::vector<std::unique_ptr<PlatformEvent>> events_;
};

}  // namespace inputfeed
