// What the differential test (the decoder against an oracle, over many lines)
// does not reach: texts and lines beyond the decoder's buffers, and that a
// typical line costs no heap allocation.

#include "command/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

// Counts heap allocations. The forms of plain new and delete are replaced
// together, so that each allocation meets its own deallocation (the sanitizers
// check that they match).
namespace {
std::atomic<long> allocations{0};
void* counted(std::size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
}  // namespace
void* operator new(std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
// clang-format off
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
// clang-format on

namespace inputfeed {
namespace {

// Decodes an exact-size copy, so the sanitizers catch any read past the end.
std::optional<Command> decode(Decoder& decoder, std::string_view line) {
    const auto copy = std::make_unique<char[]>(line.size());
    std::copy(line.begin(), line.end(), copy.get());
    return decodeCommand({copy.get(), line.size()}, decoder);
}

// Long texts and lines, which the differential test's generated lines never
// reach: escaped texts longer than the decoder's stack buffer, and a line over
// the length limit handed to the decoder directly.
TEST(Decoder, HandlesTextsAndLinesBeyondItsBuffers) {
    Decoder decoder;
    // Escaped texts whose body (n + 8 bytes) fits the decoder's 256-byte stack buffer or not.
    for (const std::size_t n : {10u, 248u, 249u, 1000u}) {
        const std::string raw = std::string(n, 'k') + "\\u20ac\\/";
        const auto got = decode(decoder, R"({"type":")" + raw + R"(","code":")" + raw + R"("})");
        const std::string want = std::string(n, 'k') + "\xE2\x82\xAC/";
        EXPECT_TRUE(got && got->type == want && got->code == want) << n;
    }
    // The decoder refuses a line longer than the reader passes on, on its own.
    const std::string longest =
        R"({"type":"a","u":")" + std::string(kMaxLineBytes - 19, 'u') + "\"}";
    EXPECT_TRUE(decode(decoder, longest));
    EXPECT_FALSE(decode(decoder, longest + " "));
}

TEST(Decoder, TypicalLinesDoNotAllocate) {
    Decoder decoder;
    for (const std::string line : {
             R"({"type":"pointer","x":1234.5,"y":678.25})",
             R"({"type":"pointerDown","x":10,"y":20,"button":2})",
             R"({"type":"keyDown","code":"ControlLeft","keyCode":59})",
             R"({"type":"pointer","x":"bad","y":1})",
         }) {
        const long before = allocations.load();
        const auto command = decodeCommand(line, decoder);
        EXPECT_EQ(allocations.load() - before, 0) << line;
    }
}

}  // namespace
}  // namespace inputfeed
