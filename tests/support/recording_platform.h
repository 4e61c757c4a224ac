#pragma once

// A platform for tests: it records the trust request and every posted event as
// a line of text, and notes each breach of the calling discipline that the
// record does not show (tests compare the record whole, which shows when trust
// is requested and what is posted how often): one event alive at a time, used
// only until it is released, and released exactly once.

#include <cstddef>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace inputfeed {

struct PlatformEvent {
    std::string text;
    bool released = false;
};

class RecordingPlatform final : public Platform {
public:
    // "trust", then "mouse TYPE X Y BUTTON" or "key KEY down|up" per posted event.
    std::vector<std::string> posted;
    std::vector<std::string> faults;      // breaches of the calling discipline, in order
    std::vector<std::size_t> flushMarks;  // posted.size() at each flush

    void requestTrust() override { posted.push_back("trust"); }
    EventRef createMouseEvent(EventType type, double x, double y, MouseButton button) override {
        char text[80];  // 17 digits tell every double apart, and -0 from 0
        std::snprintf(text, sizeof text, "mouse %u %.17g %.17g %u", type, x, y, button);
        return create(text);
    }
    EventRef createKeyboardEvent(VirtualKey virtualKey, bool keyDown) override {
        return create("key " + std::to_string(virtualKey) + (keyDown ? " down" : " up"));
    }
    void postEvent(EventRef event) override {
        if (!alive(event)) return faults.push_back("posted an event not alive");
        posted.push_back(event->text);
    }
    void releaseEvent(EventRef event) override {
        if (!alive(event)) return faults.push_back("released an event not alive");
        event->released = true;
    }
    void flush() override { flushMarks.push_back(posted.size()); }

    // Whether the last event created is still unreleased.
    bool outstanding() const { return !events_.empty() && !events_.back().released; }

private:
    EventRef create(std::string text) {
        if (outstanding()) faults.push_back("created an event while another was alive");
        return &events_.emplace_back(PlatformEvent{std::move(text)});
    }
    // Alive: created last and not yet released.
    bool alive(EventRef event) const {
        return !events_.empty() && event == &events_.back() && !event->released;
    }

    std::deque<PlatformEvent> events_;  // a deque keeps every event where it was created
};

}  // namespace inputfeed
