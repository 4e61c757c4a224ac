#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "command/command.h"

namespace inputfeed {

// Longest line the agent decodes, in bytes before its terminator. Longer lines
// are read to their end and refused.
inline constexpr std::size_t kMaxLineBytes = std::size_t{1} << 20;

// The JSON decoding facility, set up once at start-up: the scratch space that
// lets decodeCommand read a typical line without touching the heap. It keeps
// nothing from one line to the next. Not thread-safe: one decoder per thread.
class Decoder {
public:
    Decoder();
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    struct Scratch;  // opaque; defined by the decoder's implementation

private:
    friend std::optional<Command> decodeCommand(std::string_view line, Decoder& decoder);
    std::unique_ptr<Scratch> scratch_;
};

// Decodes one line (without its terminator) with the strict JSON reader: RFC
// 8259, single pass, no recursion, record keys matched by their CodingKeys
// names. Returns nothing when the line is refused: not exactly one JSON object,
// invalid UTF-8 or an unpaired surrogate escape, a missing "type", or a record
// key whose value (in its last occurrence) has the wrong type or range. Lines
// longer than kMaxLineBytes are refused here too, so a line decodes the same
// whether it comes through the line reader or not; within that length, ignored
// members may nest to any depth.
std::optional<Command> decodeCommand(std::string_view line, Decoder& decoder);

}  // namespace inputfeed
