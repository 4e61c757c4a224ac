#pragma once

// What the latency probe (latency.cpp) needs of a desktop. One file per
// display system implements it (latency_x11.cpp, latency_wayland.cpp), and
// CMake builds one probe program with each.

#include <memory>

namespace inputfeed::bench {

double nowMicros();
[[noreturn]] void fail(const char* what);

class Desktop {
public:
    virtual ~Desktop() = default;
    // Waits up to `timeoutMs` for the next pointer motion delivered to our own
    // client; returns when it arrived (microseconds), or a negative number on
    // time-out.
    virtual double nextMotion(int timeoutMs) = 0;
    // Drops events that are already here (none are expected); returns how many.
    virtual int drain() = 0;
    // Moves the pointer the platform's own way, no agent in between: the floor.
    virtual void moveRaw(int x, int y) = 0;
    virtual const char* rawName() const = 0;
};

std::unique_ptr<Desktop> openDesktop();

}  // namespace inputfeed::bench
