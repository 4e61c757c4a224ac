#include "command/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

// Counts heap allocations so a test below can check that a typical line costs
// none. Every plain allocation of the test binary comes through here; the forms
// are replaced together so each allocation meets its own deallocation.
namespace {
std::atomic<long> allocations{0};
void* countedAllocation(std::size_t size) noexcept {
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* throwingAllocation(std::size_t size) {
    if (void* p = countedAllocation(size)) return p;
    throw std::bad_alloc();
}
}  // namespace
// clang-format off
void* operator new(std::size_t size) { return throwingAllocation(size); }
void* operator new[](std::size_t size) { return throwingAllocation(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocation(size); }
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

std::string describe(const std::optional<Command>& c) {
    if (!c) return "refused";
    std::ostringstream out;
    out.precision(17);
    out << "type=\"" << c->type << "\"";
    if (c->x) out << " x=" << *c->x;
    if (c->y) out << " y=" << *c->y;
    if (c->button) out << " button=" << *c->button;
    if (c->keyCode) out << " keyCode=" << *c->keyCode;
    if (c->code) out << " code=\"" << *c->code << "\"";
    return out.str();
}

// The record with every field but type defaulted, for designated initializers.
struct Fields {
    std::string type;
    std::optional<double> x = {}, y = {};
    std::optional<std::int64_t> button = {}, keyCode = {};
    std::optional<std::string> code = {};
};
Command command(const Fields& f) {
    return Command{f.type, f.x, f.y, f.button, f.keyCode, f.code};
}

class DecoderTest : public ::testing::Test {
protected:
    // Decodes an exact-size copy, so the sanitizers catch any read past the end.
    std::optional<Command> decode(std::string_view line) {
        const auto copy = std::make_unique<char[]>(line.size());
        std::copy(line.begin(), line.end(), copy.get());
        return decodeCommand({copy.get(), line.size()}, decoder_);
    }
    Decoder decoder_;  // shared by all lines of a test: nothing may carry over
};

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST_F(DecoderTest, AcceptsAndDecodesEveryField) {
    const struct {
        std::string line;
        Fields want;
    } cases[] = {
        {R"({"type":""})", {.type = ""}},
        {R"({"type":"pointer","x":100,"y":-200})", {.type = "pointer", .x = 100.0, .y = -200.0}},
        {R"({"type":"pointerDown","x":-12.75,"y":0.5,"button":2,"keyCode":65,"code":"KeyA"})",
         {"pointerDown", -12.75, 0.5, 2, 65, "KeyA"}},
        {R"({"code":"KeyA","keyCode":-1,"button":0,"y":1E2,"x":2.5e-1,"type":"keyUp"})",
         {"keyUp", 0.25, 100.0, 0, -1, "KeyA"}},
        // null leaves every optional field absent
        {R"({"type":"a","x":null,"y":null,"button":null,"keyCode":null,"code":null})",
         {.type = "a"}},
        // JSON whitespace is space, tab, CR and LF, around every token
        {" \t\r{ \"type\" :\n\"keyDown\" ,\r\"code\"\t:\"KeyA\" } \t\r",
         {.type = "keyDown", .code = "KeyA"}},
        // unknown members of every kind are validated and ignored; keys are case-sensitive
        {R"({"type":"a","Type":1,"CODE":2,"extra":[1,{"b":[true,false,null,"s\u00e9"]},{}],)"
         R"("o":{"a":1,"b":{"c":[]},"":""},"e":[],"n":-1.5e-3,"z":0,"type\u0000":1})",
         {.type = "a"}},
        // keys and values compare and stay as decoded
        {R"({"\u0074ype":"keyDown","c\u006Fde":"Key\u0041"})", {.type = "keyDown", .code = "KeyA"}},
        {R"({"type":"\u0070ointer\/\"\\\b\f\n\r\t","code":"\ud83d\ude00 \u00e9\u20ac\uDBFF\uDFFF"})",
         {.type = "pointer/\"\\\b\f\n\r\t",
          .code = "\xF0\x9F\x98\x80 \xC3\xA9\xE2\x82\xAC\xF4\x8F\xBF\xBF"}},
        {R"({"type":"a\u0000b","code":" KeyA "})", {.type = "a\0b"s, .code = " KeyA "}},
        // raw UTF-8 of every length, up to U+10FFFF, and DEL are plain text
        {"{\"type\":"
         "\"\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"
         "\x7F\"}",
         {.type = "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF"
                  "\xBF\x7F"}},
        // integers at the edges of the signed 64-bit range; -0 is the integer 0
        {R"({"type":"a","button":9223372036854775807,"keyCode":-9223372036854775808})",
         {.type = "a", .button = kMax, .keyCode = kMin}},
        {R"({"type":"a","button":-0,"keyCode":4294967297})",
         {.type = "a", .button = 0, .keyCode = 4294967297}},
        // a repeated key: the last occurrence decides, earlier ones only have to be JSON
        {R"({"type":1,"type":"keyDown","code":"KeyA"})", {.type = "keyDown", .code = "KeyA"}},
        {R"({"type":"a","x":"s","x":1,"y":1e400,"y":2,"button":1.5,"button":3,"keyCode":[],"keyCode":4})",
         {"a", 1.0, 2.0, 3, 4, std::nullopt}},
        {R"({"type":"a","code":"KeyA","code":null,"x":1,"x":null,"type":"b"})", {.type = "b"}},
    };
    for (const auto& c : cases) {
        const auto got = decode(c.line);
        const Command want = command(c.want);
        EXPECT_TRUE(got == want) << c.line << "\n got: " << describe(got)
                                 << "\nwant: " << describe(want);
    }
}

TEST_F(DecoderTest, DecodesEscapedTextsOfAnyLength) {
    // Around the small-string size and the decoder's own buffer, and well past both.
    for (std::size_t n : {10u, 250u, 251u, 300u, 1000u}) {
        const std::string raw = std::string(n, 'k') + "\\u00e9\\/";
        const std::string want = std::string(n, 'k') + "\xC3\xA9/";
        const auto got = decode(R"({"type":")" + raw + R"(","code":")" + raw + R"("})");
        ASSERT_TRUE(got) << n;
        EXPECT_EQ(got->type, want);
        EXPECT_EQ(got->code, want);
    }
}

TEST_F(DecoderTest, RefusesLines) {
    const struct {
        const char* reason;
        std::vector<std::string> lines;
    } groups[] = {
        {"not one object",
         {"", " ", "\t\r", "[]", R"(["type","a"])", R"("type")", "1", "null", "true", "{",
          R"({"type":"a")", "}", R"({"type":"a"}})"}},
        {"trailing data",
         {R"({"type":"a"}{"type":"b"})", R"({"type":"a"} x)", R"({"type":"a"},)",
          "{\"type\":\"a\"}\0"s, "{\"type\":\"a\"}\n{\"type\":\"b\"}"}},
        {"other whitespace",
         {"\v{\"type\":\"a\"}", "{\"type\":\"a\"}\f", "\xC2\xA0{\"type\":\"a\"}",
          "{\"type\":\"a\",\xE2\x80\x83\"x\":1}", "\0{\"type\":\"a\"}"s}},
        {"byte-order mark", {"\xEF\xBB\xBF{\"type\":\"a\"}", "\xEF\xBB\xBF"}},
        {"syntax",
         {R"({"type":"a",})",
          R"({"type" "a"})",
          R"({"type":"a" "x":1})",
          R"({'type':'a'})",
          R"({type:"a"})",
          R"({"type":"a",,"x":1})",
          R"({,"type":"a"})",
          R"({"type"})",
          R"({"type":})",
          R"({"type":"a","u":[1,]})",
          R"({"type":"a","u":[,1]})",
          R"({"type":"a","u":[1 2]})",
          R"({"type":"a","u":{"k"}})",
          R"({"type":"a","u":{"k":1,}})",
          R"({"type":"a","u":{"k":1,2}})",
          R"({"type":"a","u":{1:2}})",
          R"({"type":"a","u":tru})",
          R"({"type":"a","u":nul})",
          R"({"type":"a","u":True})",
          R"({"type":"a","u":[})",
          R"({"type":"a","u":{]})",
          R"({"type":"a","u":[1}})",
          R"({"type":"a","u":"abc})",
          R"({"type":"a","u":"\x"})",
          R"({"type":"a","u":"\u12G4"})",
          R"({"type":"a","u":"\u123"})",
          R"({"type":"a\)",
          R"({"type":"\u00)",
          R"({"type":"a","x":1/2})",
          R"({"type":"a"/**/})"}},
        {"invalid UTF-8",
         {"{\"type\":\"\xC0\xAF\"}", "{\"type\":\"\xC1\xBF\"}", "{\"type\":\"\xE0\x80\xAF\"}",
          "{\"type\":\"\xF0\x80\x80\xAF\"}", "{\"type\":\"\xED\xA0\x80\"}",
          "{\"type\":\"\xED\xBF\xBF\"}", "{\"type\":\"\xF4\x90\x80\x80\"}",
          "{\"type\":\"\xF5\x80\x80\x80\"}", "{\"type\":\"\xFF\"}", "{\"type\":\"\x80\"}",
          "{\"type\":\"a\xBF\"}", "{\"type\":\"\xE2\x82\"}", "{\"type\":\"\xC3\"}",
          "{\"type\":\"\xF0\x9F\x98\"}", "{\"type\":\"\xC3", "{\"type\":\"a\",\"u\":\"\xC3\x28\"}",
          "{\"type\":\"a\",\"\xFE\":1}", "{\"type\":\"a\",\"u\":[\"\xE2\x28\xA1\"]}",
          "{\"type\":\"a\"}\xC3\xA9"}},
        {"unpaired surrogate escape",
         {R"({"type":"\ud800"})", R"({"type":"\udc00"})", R"({"type":"\uDFFF\uD800"})",
          R"({"type":"\ud800\u0041"})", R"({"type":"\ud800x"})", R"({"type":"\ud800\ud800"})",
          R"({"type":"\ud800\n"})", R"({"type":"a","\ud83d":1})", R"({"type":"a","u":["\udbff"]})",
          R"({"type":"\ud800)", R"({"type":"\ud800\u"})"}},
        {"raw control character in a string",
         {"{\"type\":\"a\tb\"}", "{\"type\":\"a\nb\"}", "{\"type\":\"\x01\"}",
          "{\"type\":\"\x1F\"}", "{\"type\":\"a\0\"}"s, "{\"type\":\"a\",\"u\":\"\r\"}",
          "{\"ty\x07pe\":\"a\"}", "{\"type\":\"a\",\"u\":{\"\x1b\":1}}"}},
        {"missing or mistyped type",
         {"{}", R"({"x":1,"y":2,"code":"KeyA"})", R"({"type":null})", R"({"type":1})",
          R"({"type":true})", R"({"type":["a"]})", R"({"type":{}})", R"({"Type":"a"})",
          R"({"type ":"a"})", R"({"type":"a","type":null})", R"({"type":"a","type":2})"}},
        {"mistyped field",
         {R"({"type":"a","x":"12"})", R"({"type":"a","x":true})", R"({"type":"a","y":[]})",
          R"({"type":"a","y":{}})", R"({"type":"a","code":1})", R"({"type":"a","code":false})",
          R"({"type":"a","code":["KeyA"]})", R"({"type":"a","keyCode":"65"})",
          R"({"type":"a","button":"1"})", R"({"type":"a","button":true})",
          R"({"type":"a","x":1,"x":"1"})", R"({"type":"a","x":[[[[{"k":[]}]]]]})"}},
        {"number grammar",
         {R"({"type":"a","x":01})", R"({"type":"a","x":-})", R"({"type":"a","x":1.})",
          R"({"type":"a","x":.5})", R"({"type":"a","x":1e})", R"({"type":"a","x":1e+})",
          R"({"type":"a","x":+1})", R"({"type":"a","x":-01})", R"({"type":"a","x":0x10})",
          R"({"type":"a","x":NaN})", R"({"type":"a","x":Infinity})",
          R"({"type":"a","x":-Infinity})", R"({"type":"a","x":1.5.2})", R"({"type":"a","x":1e5e5})",
          R"({"type":"a","x":- 1})", R"({"type":"a","u":00})", R"({"type":"a","button":01})",
          R"({"type":"a","button":-})"}},
        {"x or y beyond a double",
         {R"({"type":"a","x":1e400})", R"({"type":"a","y":-1e400})", R"({"type":"a","x":1e309})",
          R"({"type":"a","x":1.7976931348623159e308})",
          R"({"type":"a","x":0.)" + std::string(400, '0') + "1e800}",
          R"({"type":"a","x":1)" + std::string(400, '0') + "}",
          R"({"type":"a","x":1e)" + std::string(30, '9') + "}"}},
        {"button or keyCode not a 64-bit integer",
         {R"({"type":"a","button":1.5})", R"({"type":"a","button":2.0})",
          R"({"type":"a","button":1e2})", R"({"type":"a","button":1E0})",
          R"({"type":"a","button":-0.0})", R"({"type":"a","button":0e0})",
          R"({"type":"a","button":9223372036854775808})",
          R"({"type":"a","button":-9223372036854775809})",
          R"({"type":"a","keyCode":18446744073709551616})",
          R"({"type":"a","keyCode":-18446744073709551615})",
          R"({"type":"a","keyCode":99999999999999999999999})"}},
    };
    for (const auto& group : groups) {
        for (const auto& line : group.lines) {
            EXPECT_FALSE(decode(line)) << group.reason << ": " << ::testing::PrintToString(line)
                                       << "\n got: " << describe(decode(line));
        }
    }
}

// Coordinates are the nearest double, ties to even, including the cases where
// a short-cut conversion goes wrong.
TEST_F(DecoderTest, ConvertsCoordinatesExactly) {
    const double denormMin = std::numeric_limits<double>::denorm_min();
    const struct {
        std::string number;
        double want;
    } cases[] = {
        {"0.1", 0.1},
        {"-12.75", -12.75},
        {"1e23", 1e23},
        {"9007199254740993", 9007199254740992.0},  // tie: down to even
        {"9007199254740995", 9007199254740996.0},  // tie: up to even
        {"9007199254740993.0000000000000001", 9007199254740994.0},
        {"0.1000000000000000055511151231257827021181583404541015625", 0.1},
        {"123456789012345678901234567890", 1.2345678901234568e29},
        // 19 digits: too many bits for one exactly rounded multiply or divide
        {"5575514988041543269e-20", 5575514988041543269e-20},
        {"8332453052718400922e14", 8332453052718400922e14},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"1.7976931348623158e308", std::numeric_limits<double>::max()},
        {"2.2250738585072014e-308", std::numeric_limits<double>::min()},
        {"2.2250738585072011e-308", std::bit_cast<double>(std::uint64_t{0x000FFFFFFFFFFFFF})},
        {"4.9e-324", denormMin},
        {"2.4703282292062328e-324", denormMin},
        {"2.4703282292062327e-324", 0.0},  // just below half the smallest subnormal
        {"1e-400", 0.0},
        {"1" + std::string(400, '0') + "e-800", 0.0},  // many digits, yet tiny
        {"0." + std::string(400, '0') + "1e400", 0.1},
        {"0." + std::string(700, '0') + "1e300", 0.0},  // a large exponent, yet tiny
        {"1e-" + std::string(30, '9'), 0.0},
        {"0e999999999999999999999", 0.0},
        {"-1e-400", -0.0},
        {"-0.0", -0.0},
        {"-0", -0.0},
        {"0", 0.0},
    };
    for (const auto& c : cases) {
        const std::string negated = c.number[0] == '-' ? c.number.substr(1) : "-" + c.number;
        const auto got = decode(R"({"type":"a","x":)" + c.number + R"(,"y":)" + negated + "}");
        ASSERT_TRUE(got && got->x && got->y) << c.number;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*got->x), std::bit_cast<std::uint64_t>(c.want))
            << c.number << " gave " << *got->x;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(*got->y), std::bit_cast<std::uint64_t>(-c.want))
            << negated << " gave " << *got->y;
    }
}

TEST_F(DecoderTest, HandlesDeepNestingAndLongLines) {
    constexpr std::size_t kDepth = 100'000;
    const std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
    std::string mixed;
    for (std::size_t i = 0; i < kDepth; ++i) mixed += i % 2 ? "[" : R"({"k":)";
    for (std::size_t i = kDepth; i-- > 0;) mixed += i % 2 ? "]" : "}";
    const std::string head = R"({"type":"a","u":)";

    EXPECT_TRUE(decode(head + arrays + "}"));
    EXPECT_TRUE(decode(head + mixed + R"(,"code":"KeyA"})"));
    // Mistyped as a known field, unclosed, or closed with the wrong bracket.
    EXPECT_FALSE(decode(R"({"type":"a","x":)" + arrays + "}"));
    EXPECT_FALSE(decode(head + std::string(kDepth, '[') + "}"));
    EXPECT_FALSE(decode(head + mixed.substr(0, mixed.size() - 1) + "]}"));
    // As deep as a line of the longest accepted length allows, closed or not.
    const std::size_t deepest = (kMaxLineBytes - head.size() - 1) / 2;
    EXPECT_TRUE(decode(head + std::string(deepest, '[') + std::string(deepest, ']') + "}"));
    EXPECT_FALSE(decode(head + std::string(kMaxLineBytes - head.size(), '[')));
    // Longer lines are refused whatever they hold.
    const std::string longest =
        R"({"type":"a","u":")" + std::string(kMaxLineBytes - 19, 'u') + "\"}";
    EXPECT_TRUE(decode(longest));
    EXPECT_FALSE(decode(longest + " "));
    // The decoder is as good as new afterwards.
    EXPECT_TRUE(decode(R"({"type":"b","u":[[]]})") == command({.type = "b"}));
}

TEST_F(DecoderTest, KeepsNothingFromARefusedLine) {
    EXPECT_FALSE(decode(R"({"type":"keyDown","code":"KeyA","x":1,"button":2,"y":"bad"})"));
    EXPECT_TRUE(decode(R"({"type":"keyUp"})") == command({.type = "keyUp"}));
    EXPECT_FALSE(decode(R"({"type":"a","u":[[[[)"));
    EXPECT_TRUE(decode(R"({"type":"b","u":[{}]})") == command({.type = "b"}));
}

TEST_F(DecoderTest, TypicalLinesDoNotAllocate) {
    const std::string lines[] = {
        R"({"type":"pointer","x":1234.5,"y":678.25})",
        R"({"type":"pointerDown","x":10,"y":20,"button":2})",
        R"({"type":"keyDown","code":"ControlLeft","keyCode":59})",
        R"({"type":"pointer","x":"bad","y":1})",
    };
    for (const auto& line : lines) {
        const long before = allocations.load();
        const auto command = decodeCommand(line, decoder_);
        EXPECT_EQ(allocations.load() - before, 0) << line;
    }
}

}  // namespace
}  // namespace inputfeed
