// Fuzzes decodeCommand on one line. Besides surviving every input, the decoder
// must keep these promises:
//  - an accepted line is valid UTF-8, no longer than kMaxLineBytes, and yields
//    finite coordinates and texts that are valid UTF-8;
//  - JSON whitespace around a line changes nothing, and anything else before or
//    after an accepted line refuses it;
//  - decoding is repeatable and a line leaves nothing behind for the next one;
//  - with nlohmann's parser at hand, the verdict and fields equal the oracle's.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "command/decoder.h"

#ifdef INPUTFEED_FUZZ_REFERENCE
#include "reference_decoder.h"
#endif

namespace {

using inputfeed::Command;

bool validUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length;
        std::uint32_t point;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2, point = c & 0x1Fu;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3, point = c & 0x0Fu;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4, point = c & 0x07u;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80u) return false;
            point = (point << 6) | (next & 0x3Fu);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

bool same(const std::optional<Command>& a, const std::optional<Command>& b) {
#ifdef INPUTFEED_FUZZ_REFERENCE
    return inputfeed::reference::sameCommand(a, b);
#else
    return a == b;
#endif
}

[[noreturn]] void fail(const char* what, std::string_view line) {
    std::fprintf(stderr, "fuzz_decode: %s\n  line (%zu bytes): ", what, line.size());
    for (std::size_t i = 0; i < line.size() && i < 300; ++i)
        std::fprintf(stderr, "%02X", static_cast<unsigned char>(line[i]));
    std::fprintf(stderr, "\n");
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One decoder for every input, as in the agent, so state kept by mistake shows.
    static inputfeed::Decoder decoder;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto command = inputfeed::decodeCommand(line, decoder);

    if (!same(command, inputfeed::decodeCommand(line, decoder)))
        fail("decoding the same line twice differs", line);
    static constexpr std::string_view probe =
        R"({"type":"pointerDown","x":1.5,"y":-2,"code":"KeyA"})";
    const auto probed = inputfeed::decodeCommand(probe, decoder);
    if (!probed || probed->type != "pointerDown" || probed->x != 1.5 || probed->y != -2.0 ||
        probed->button || probed->keyCode || probed->code != "KeyA")
        fail("a line changed how the next one decodes", line);

    if (command) {
        if (line.size() > inputfeed::kMaxLineBytes) fail("accepted an over-long line", line);
        if (!validUtf8(line)) fail("accepted a line that is not UTF-8", line);
        if (!validUtf8(command->type) || (command->code && !validUtf8(*command->code)))
            fail("decoded a text that is not UTF-8", line);
        if ((command->x && !std::isfinite(*command->x)) ||
            (command->y && !std::isfinite(*command->y)))
            fail("decoded a coordinate that is not finite", line);
        if (inputfeed::decodeCommand("x" + std::string(line), decoder))
            fail("accepted a line after a stray character", line);
        if (inputfeed::decodeCommand(std::string(line) + "{}", decoder))
            fail("accepted a second value after the object", line);
    }
    if (line.size() + 4 <= inputfeed::kMaxLineBytes &&
        !same(command, inputfeed::decodeCommand(" \t" + std::string(line) + "\r ", decoder)))
        fail("JSON whitespace around the line changed the verdict", line);

#ifdef INPUTFEED_FUZZ_REFERENCE
    const auto expected = inputfeed::reference::referenceDecode(line);
    if (!same(command, expected)) {
        std::fprintf(stderr, "decoder:   %s\nreference: %s\n",
                     inputfeed::reference::describe(command).c_str(),
                     inputfeed::reference::describe(expected).c_str());
        fail("the decoder and the reference disagree", line);
    }
#endif
    return 0;
}
