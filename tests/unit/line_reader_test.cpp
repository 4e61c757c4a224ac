#include "line_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_source.h"

namespace inputfeed {
namespace {

using namespace std::string_literals;

// A line as the tests compare it: its text, or nullopt for a too-long line.
using Got = std::optional<std::string>;
const Got tooLong = std::nullopt;

std::vector<Got> readAll(LineReader& reader) {
    std::vector<Got> lines;
    for (Line line = reader.next(); line.kind != Line::Kind::end; line = reader.next()) {
        if (line.kind == Line::Kind::tooLong) {
            lines.push_back(tooLong);
        } else {
            lines.emplace_back(std::string(line.text));
        }
    }
    return lines;
}

std::vector<Got> readAll(const std::string& input, std::size_t maxRead) {
    ScriptedSource source({{input}}, maxRead);
    return readAll(source.reader);
}

// Each input is also fed one byte per read and in odd-sized pieces, so every
// terminator lands on a read boundary somewhere.
constexpr std::size_t kSplits[] = {SIZE_MAX, 1, 2, 7};

TEST(LineReader, SplitsLinesAndStripsTerminators) {
    const struct {
        std::string input;
        std::vector<Got> lines;
    } cases[] = {
        {"", {}},
        {"a\nb\n", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\rb\n", {"a\rb"}},          // a lone CR is text
        {"a\r\r\n", {"a\r"}},          // only the CR next to the LF goes
        {"\r\n\n\r\n", {"", "", ""}},  // empty lines are lines
        {"\n", {""}},
        {"a", {"a"}},  // unterminated last line
        {"a\nbc", {"a", "bc"}},
        {"a\r", {"a\r"}},  // no LF, so the CR stays
        {"\r", {"\r"}},
        {"\r\r", {"\r\r"}},
        {"a\n\rb\n", {"a", "\rb"}},
        {"x\0y\n\0"s, {"x\0y"s, "\0"s}},
        {"{\"type\":\"keyDown\"}\r\n{}\n", {"{\"type\":\"keyDown\"}", "{}"}},
    };
    for (const auto& c : cases) {
        for (std::size_t split : kSplits) {
            EXPECT_EQ(readAll(c.input, split), c.lines)
                << testing::PrintToString(c.input) << " split " << split;
        }
    }
}

TEST(LineReader, RefusesLinesOverTheLimitAsOneLine) {
    const std::size_t limit = kMaxLineBytes;
    const std::string full(limit, 'a');
    const std::string over(limit + 1, 'a');
    const std::string huge(3 * limit + 12345, 'a');
    const struct {
        const char* name;
        std::string input;
        std::vector<Got> lines;
    } cases[] = {
        {"exactly the limit", full + "\n", {full}},
        {"the limit with CRLF", full + "\r\n", {full}},
        {"the limit, unterminated", full, {full}},
        {"the limit ending in a lone CR", full + "\r", {tooLong}},
        {"one byte over", over + "\n", {tooLong}},
        {"one byte over with CRLF", over + "\r\n", {tooLong}},
        {"the limit plus CR CR LF", full + "\r\r\n", {tooLong}},
        {"one byte over, unterminated", over, {tooLong}},
        {"huge then valid", huge + "\nok\n", {tooLong, "ok"}},
        {"huge then unterminated", huge + "\r\nok", {tooLong, "ok"}},
        {"huge, unterminated", huge, {tooLong}},
        {"between short lines",
         "a\n" + over + "\nb\n" + full + "\nc",
         {"a", tooLong, "b", full, "c"}},
        {"two in a row", huge + "\n" + over + "\n\n", {tooLong, tooLong, ""}},
    };
    for (const auto& c : cases) {
        // Byte-by-byte reads only where a terminator sits at the limit: they are slow.
        const std::size_t finest = c.input.size() <= limit + 3 ? 1 : 4093;
        for (std::size_t split : {SIZE_MAX, std::size_t{65537}, finest}) {
            EXPECT_EQ(readAll(c.input, split), c.lines) << c.name << ", split " << split;
        }
    }
}

TEST(LineReader, HandsOverALineAsSoonAsItsLineFeedArrives) {
    ScriptedSource source({{"a\nb"}, {"c\nd\ne\n"}, {"f"}});
    LineReader& reader = source.reader;
    EXPECT_FALSE(reader.lineReady());
    EXPECT_EQ(reader.next(), (Line{Line::Kind::text, "a"}));
    EXPECT_EQ(source.reads, 1u);
    EXPECT_FALSE(reader.lineReady());
    EXPECT_EQ(reader.next(), (Line{Line::Kind::text, "bc"}));
    EXPECT_EQ(source.reads, 2u);
    EXPECT_TRUE(reader.lineReady());
    EXPECT_EQ(reader.next(), (Line{Line::Kind::text, "d"}));
    EXPECT_EQ(reader.next(), (Line{Line::Kind::text, "e"}));
    EXPECT_EQ(source.reads, 2u);
    EXPECT_FALSE(reader.lineReady());
    EXPECT_EQ(reader.next(), (Line{Line::Kind::text, "f"}));
    EXPECT_EQ(source.reads, 4u);  // "f", then end of input
    EXPECT_TRUE(reader.lineReady());
    EXPECT_EQ(reader.next().kind, Line::Kind::end);
    EXPECT_EQ(reader.next().kind, Line::Kind::end);
    EXPECT_EQ(source.reads, 4u);  // the end is remembered, not read again
}

TEST(LineReader, RetriesInterruptedReadsAndStopsAtAFailedOne) {
    ScriptedSource interrupted({{"", EINTR}, {"a\n"}, {"", EINTR}, {"", EINTR}, {"b"}, {"\n"}});
    EXPECT_EQ(readAll(interrupted.reader), (std::vector<Got>{"a", "b"}));

    // The unfinished line a failed read cuts off is not acted on.
    ScriptedSource failing({{"a\nb"}, {"", EIO}, {"c\n"}});
    EXPECT_EQ(readAll(failing.reader), (std::vector<Got>{"a"}));
    EXPECT_EQ(failing.reads, 2u);
}

// The real descriptor path: a line is handed over while the writer keeps the
// pipe open, also when the descriptor was left in non-blocking mode.
TEST(LineReader, ReadsAPipeThatStaysOpen) {
    for (const bool nonBlocking : {false, true}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        if (nonBlocking) ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        std::atomic<bool> received{false};
        std::atomic<bool> receivedWhileOpen{false};
        std::thread writer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            EXPECT_EQ(::write(fds[1], "one\ntw", 6), 6);
            for (int i = 0; i < 500 && !received; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            receivedWhileOpen = received.load();
            EXPECT_EQ(::write(fds[1], "o", 1), 1);
            ::close(fds[1]);
        });
        LineReader reader(fds[0]);
        const Line first = reader.next();
        received = true;
        EXPECT_EQ(first, (Line{Line::Kind::text, "one"}));
        EXPECT_EQ(reader.next(), (Line{Line::Kind::text, "two"}));
        EXPECT_EQ(reader.next().kind, Line::Kind::end);
        writer.join();
        EXPECT_TRUE(receivedWhileOpen) << "non-blocking: " << nonBlocking;
        ::close(fds[0]);
    }
}

}  // namespace
}  // namespace inputfeed
