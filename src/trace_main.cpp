// inputfeed-trace: the agent's loop over the dry-run platform (platform/trace.cpp).
// Unlike the agent, our own program takes options: --explain says on standard
// error why each refused line was refused.

#include <cinttypes>
#include <cstdio>
#include <optional>

#include "agent.h"
#include "command/decoder.h"
#include "events/key_event.h"
#include "line_reader.h"
#include "platform/platform.h"
#include "platform/streams.h"
#include "program_options.h"

namespace inputfeed {
namespace {

constexpr const char* kHelp =
    "Usage: inputfeed-trace [--explain]\n"
    "The dry run of inputfeed: reads the agent's newline-delimited JSON commands on\n"
    "standard input and prints, one JSON line each, the events the agent would post.\n"
    "Nothing is posted.\n"
    "\n"
    "  --explain  for each line refused, one line on standard error: its number and why\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n";

// Why a line that decoded made no event: the routing of dispatchCommand.
const char* unrouted(const Command& command) {
    const bool pointer = command.type.starts_with("pointer");
    if (pointer && command.x && command.y) return "the platform made no event";
    if (command.code) {
        return lookupKey(*command.code) ? "the platform made no event"
                                        : "\"code\" not one of the 64 key names";
    }
    if (!pointer) return "no \"code\", and \"type\" does not start with \"pointer\"";
    if (command.x) return "\"y\" missing, and no \"code\"";
    return command.y ? "\"x\" missing, and no \"code\""
                     : "\"x\" and \"y\" missing, and no \"code\"";
}

class Explainer final : public RefusalListener {
public:
    void refused(std::uint64_t number, const Line& line,
                 const std::optional<Command>& command) override {
        DecodeExplainer::Reason reason{"longer than 1048576 bytes", 0};
        if (command) {
            reason = {unrouted(*command), 0};
        } else if (line.kind == Line::Kind::text) {
            reason = decoder_.explain(line.text);
        }
        if (reason.byte != 0) {
            std::fprintf(stderr, "line %" PRIu64 ": %s at byte %zu\n", number, reason.text,
                         reason.byte);
        } else {
            std::fprintf(stderr, "line %" PRIu64 ": %s\n", number, reason.text);
        }
    }

private:
    DecodeExplainer decoder_;
};

}  // namespace
}  // namespace inputfeed

int main(int argc, char** argv) {
    inputfeed::prepareStandardStreams();
    bool explain = false;
    if (const auto status = inputfeed::handleProgramOptions(
            argc, argv, "inputfeed-trace", inputfeed::kHelp, "--explain", &explain)) {
        return *status;
    }
    const auto platform = inputfeed::openPlatform();
    std::optional<inputfeed::Explainer> explainer;
    if (explain) explainer.emplace();
    return inputfeed::runAgent(/* standard input */ 0, *platform,
                               explainer ? &*explainer : nullptr);
}
