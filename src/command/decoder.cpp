// STUB: to be replaced by the real decoder.
#include "command/decoder.h"

namespace inputfeed {
struct Decoder::Scratch {};
Decoder::Decoder() : scratch_(std::make_unique<Scratch>()) {}
Decoder::~Decoder() = default;
std::optional<Command> Decoder::decode(std::string_view) { return std::nullopt; }
std::optional<Command> decodeCommand(std::string_view line, Decoder& decoder) { return decoder.decode(line); }
}  // namespace inputfeed
