// What the decoder hands on that no output shows: texts exactly as decoded,
// keyCode, absent versus null; and that a typical line costs no heap
// allocation. Which lines are accepted or refused, and the coordinates' exact
// values, are checked end to end through the dry run.

#include "command/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <string>

// Counts heap allocations. Every plain allocation of the test binary comes
// through here; the forms are replaced together so each allocation meets its
// own deallocation.
namespace {
std::atomic<long> allocations{0};
void* counted(std::size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* countedOrThrow(std::size_t size) {
    if (void* p = counted(size)) return p;
    throw std::bad_alloc();
}
}  // namespace
// clang-format off
void* operator new(std::size_t size) { return countedOrThrow(size); }
void* operator new[](std::size_t size) { return countedOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
// clang-format on

namespace inputfeed {
namespace {

using namespace std::string_literals;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

// Decodes an exact-size copy, so the sanitizers catch any read past the end.
std::optional<Command> decode(Decoder& decoder, std::string_view line) {
    const auto copy = std::make_unique<char[]>(line.size());
    std::copy(line.begin(), line.end(), copy.get());
    return decodeCommand({copy.get(), line.size()}, decoder);
}

TEST(Decoder, HandsOnEveryFieldAsDecoded) {
    const std::string utf8 =
        "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF4\x8F\xBF\xBF\x7F";
    const struct {
        std::string line;
        Command want;
    } cases[] = {
        {R"({"type":""})", {"", {}, {}, {}, {}, {}}},
        {R"({"type":"a","x":null,"y":null,"button":null,"keyCode":null,"code":null})",
         {"a", {}, {}, {}, {}, {}}},
        {R"({"code":"KeyA","keyCode":-1,"button":0,"y":1E2,"x":2.5e-1,"type":"keyUp"})",
         {"keyUp", 0.25, 100.0, 0, -1, "KeyA"}},
        {R"({"type":"a","button":9223372036854775807,"keyCode":-9223372036854775808})",
         {"a", {}, {}, kMax, kMin, {}}},
        {R"({"type":"a","keyCode":4294967297,"code":""})", {"a", {}, {}, {}, 4294967297, ""}},
        // the last occurrence decides, also when it is null
        {R"({"type":"a","keyCode":1,"keyCode":null,"code":"KeyA","code":null,"x":1})",
         {"a", 1.0, {}, {}, {}, {}}},
        {R"({"type":"\/\"\\\b\f\n\r\t","code":"\ud83d\ude00\u00e9\uDBFF\uDFFF"})",
         {"/\"\\\b\f\n\r\t", {}, {}, {}, {}, "\xF0\x9F\x98\x80\xC3\xA9\xF4\x8F\xBF\xBF"}},
        {R"({"type":"a\u0000b","code":" KeyA "})", {"a\0b"s, {}, {}, {}, {}, " KeyA "}},
        {"{\"type\":\"" + utf8 + "\",\"code\":\"" + utf8 + "\"}", {utf8, {}, {}, {}, {}, utf8}},
    };
    Decoder decoder;  // shared by all lines: nothing may carry over
    for (const auto& c : cases) {
        const auto got = decode(decoder, c.line);
        EXPECT_TRUE(got == c.want) << c.line;
    }
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
