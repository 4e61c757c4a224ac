#pragma once

#include <chrono>

namespace inputfeed {

// The monotonic clock (CLOCK_MONOTONIC on Linux) in any unit, from an arbitrary
// start: for event timestamps and intervals, never for the time of day. A
// floating-point Unit keeps the fraction, e.g. std::chrono::duration<double>.
template <typename Unit = std::chrono::nanoseconds>
typename Unit::rep monotonic() {
    return std::chrono::duration_cast<Unit>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace inputfeed
