// The line reader over scripted reads, where line ends and the length limit
// fall on every kind of read boundary. What the terminators and the limit mean,
// and reading a non-blocking pipe, are checked end to end.

#include "line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scripted_source.h"

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

}  // namespace
}  // namespace inputfeed
