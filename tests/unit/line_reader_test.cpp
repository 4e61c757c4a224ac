// The line reader over scripted reads, where line ends and the length limit
// fall on every kind of read boundary, and over a real non-blocking pipe. What
// the terminators and the limit mean is also checked end to end.

#include "line_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/scripted_source.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace inputfeed {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;
const std::string tooLong = "(a line over the limit)";

Lines readAll(LineReader& reader) {
    Lines lines;
    for (Line line = reader.next(); line.kind != Line::Kind::end; line = reader.next())
        lines.push_back(line.kind == Line::Kind::tooLong ? tooLong : std::string(line.text));
    return lines;
}

TEST(LineReader, SplitsLinesWhateverTheReadSizes) {
    const std::string full(kMaxLineBytes, 'a');
    const std::string over = full + "a";
    const struct {
        std::string input;
        Lines lines;
    } cases[] = {
        {"a\r\nb\n\r\n\n", {"a", "b", "", ""}},
        {"a\rb\r\r\n\rc\r", {"a\rb\r", "\rc\r"}},  // only a CR right before the LF goes
        {"x\0y\n\0"s, {"x\0y"s, "\0"s}},
        {full + "\r\n" + full, {full, full}},
        {full + "\r\r\n" + full + "\r", {tooLong, tooLong}},
        {"a\n" + over + "\r\n" + over + "\nb\n" + over, {"a", tooLong, tooLong, "b", tooLong}},
        {std::string(2 * kMaxLineBytes, 'a') + "\nok", {tooLong, "ok"}},
    };
    for (const auto& c : cases) {
        for (const std::size_t split :
             {SIZE_MAX, std::size_t{65537}, std::size_t{7}, std::size_t{1}}) {
            ScriptedSource source({{c.input}}, split);
            // Not EXPECT_EQ: it would print the megabyte lines.
            EXPECT_TRUE(readAll(source.reader) == c.lines)
                << testing::PrintToString(c.input.substr(0, 20)) << "... (" << c.input.size()
                << " bytes), split " << split;
        }
    }
}

TEST(LineReader, RetriesInterruptedReadsAndStopsAtAFailedOne) {
    ScriptedSource interrupted({{"", EINTR}, {"a\n"}, {"", EINTR}, {"", EINTR}, {"b"}, {"\n"}});
    EXPECT_EQ(readAll(interrupted.reader), (Lines{"a", "b"}));
    // The unfinished line a failed read cuts off is not acted on.
    ScriptedSource failing({{"a\nb"}, {"", EIO}, {"c\n"}});
    EXPECT_EQ(readAll(failing.reader), (Lines{"a"}));
}

#ifndef _WIN32  // POSIX pipes; Windows has no non-blocking anonymous pipes to inherit
// A descriptor inherited in non-blocking mode must not end the input the first
// time the sender pauses.
TEST(LineReader, WaitsOnANonBlockingPipe) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    std::thread writer([&] {
        for (const char* part : {"one\ntw", "o"}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_GT(::write(fds[1], part, std::strlen(part)), 0);
        }
        ::close(fds[1]);
    });
    LineReader reader(fds[0]);
    EXPECT_EQ(readAll(reader), (Lines{"one", "two"}));
    writer.join();
    ::close(fds[0]);
}
#endif

}  // namespace
}  // namespace inputfeed
