#pragma once

// A platform for tests: it records the trust request and every posted event as
// a line of text, and notes each breach of the calling discipline that the
// record does not show (tests compare the record whole, which shows when trust
// is requested and what is posted how often): one event alive at a time, used
// only until it is released, and released exactly once.

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace inputfeed {

class RecordingPlatform final : public Platform {
public:
    // "trust", then "mouse TYPE X Y BUTTON" or "key KEY down|up" per posted event.
    std::vector<std::string> posted;
    std::vector<std::string> faults;      // breaches of the calling discipline, in order
    std::vector<std::size_t> flushMarks;  // posted.size() at each flush

    void requestTrust() override { posted.push_back("trust"); }
    std::optional<Event> createMouseEvent(EventType type, double x, double y,
                                          MouseButton button) override {
        return create(Event{.type = type, .x = x, .y = y, .button = button});
    }
    std::optional<Event> createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        return create(
            Event{.kind = Event::Kind::keyboard, .virtualKey = virtualKey, .keyDown = keyDown});
    }
    // The text comes from the event posted, so that it shows the event the loop was handed.
    void postEvent(const Event& event) override {
        if (!alive_) return faults.push_back("posted an event not alive");
        char text[80];  // 17 digits tell every double apart, and -0 from 0
        if (event.kind == Event::Kind::keyboard) {
            std::snprintf(text, sizeof text, "key %u %s", event.virtualKey,
                          event.keyDown ? "down" : "up");
        } else {
            std::snprintf(text, sizeof text, "mouse %u %.17g %.17g %u", event.type, event.x,
                          event.y, event.button);
        }
        posted.push_back(text);
    }
    void releaseEvent(const Event&) override {
        if (!alive_) return faults.push_back("released an event not alive");
        alive_ = false;
    }
    void flush() override { flushMarks.push_back(posted.size()); }

    // Whether the last event created is still unreleased.
    bool outstanding() const { return alive_; }

private:
    Event create(const Event& event) {
        if (alive_) faults.push_back("created an event while another was alive");
        alive_ = true;
        return event;
    }

    bool alive_ = false;  // created and not yet released
};

}  // namespace inputfeed
