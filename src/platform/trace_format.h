#pragma once

// The one-line JSON form in which the dry run reports what it would do. Shared
// with anything that must print events byte-identically.

#include <cstddef>

#include "platform/platform.h"

namespace inputfeed {

// Longest line any of the functions below writes, terminator included.
inline constexpr std::size_t kMaxTraceLine = 128;

// Each function writes one line ending in '\n' to `out`, which must have room
// for kMaxTraceLine bytes, and returns the number of bytes written.
std::size_t formatTrustLine(char* out);
std::size_t formatEventLine(char* out, const Event& event);

}  // namespace inputfeed
