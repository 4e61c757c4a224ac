// Fuzzes decodeCommand on one line against the oracle of reference_decoder.h
// (nlohmann's parser plus the record rules): verdict and fields must agree for
// the line, for the line with JSON whitespace around it, and for a fixed line
// decoded right after it, so that nothing carries over from one line to the
// next. Agreeing with the oracle covers the rest of what an accepted line
// promises: valid UTF-8 within the length limit, finite coordinates, texts
// exactly as written.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "reference_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One decoder for every input, as in the agent, so state kept by mistake shows.
    static inputfeed::Decoder decoder;
    const std::string line(reinterpret_cast<const char*>(data), size);
    const std::string probe = R"({"type":"pointerDown","x":1.5,"y":-2,"code":"KeyA"})";
    for (const std::string& variant : {line, " \t" + line + "\r ", probe}) {
        if (const auto report = inputfeed::reference::disagreement(variant, decoder)) {
            std::fprintf(stderr, "fuzz_decode: the decoder and the reference disagree\n%s\n",
                         report->c_str());
            std::abort();
        }
    }
    return 0;
}
