// Fuzzes decodeCommand on one line against the oracle of reference_decoder.h
// (nlohmann's parser plus the record rules): verdict and fields must agree.
// Agreeing with the oracle covers what an accepted line promises: valid UTF-8
// within the length limit, finite coordinates, texts exactly as written. Two
// cheaper checks follow, which keep the oracle to one parse per input: JSON
// whitespace around the line changes nothing, and a fixed line decoded next
// decodes as always, so nothing carries over from one line to the next.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reference_decoder.h"

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz_decode: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace inputfeed;
    // One decoder for every input, as in the agent, so state kept by mistake shows.
    static Decoder decoder;
    static const std::string probe = R"({"type":"pointerDown","x":1.5,"y":-2,"code":"KeyA"})";
    static const auto probed = reference::referenceDecode(probe);
    const std::string line(reinterpret_cast<const char*>(data), size);

    if (const auto report = reference::disagreement(line, decoder))
        fail("the decoder and the reference disagree\n" + *report);
    const std::string spaced = " \t" + line + "\r ";
    if (spaced.size() <= kMaxLineBytes &&
        !reference::sameCommand(decodeCommand(spaced, decoder), decodeCommand(line, decoder)))
        fail("JSON whitespace around the line changed the verdict");
    if (!reference::sameCommand(decodeCommand(probe, decoder), probed))
        fail("a line changed how the next one decodes");
    return 0;
}
