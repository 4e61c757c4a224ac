// Runs every case of a JSON parser conformance corpus (files named y_*, n_*,
// i_*: must be accepted, must be refused, either) through the decoder, each
// embedded as the value of an ignored member of a valid command:
//   {"type":"keyDown","code":"KeyA","z":<case>}
// so that the case's own verdict decides the line's. A y_ case must yield the
// key command, an n_ case must refuse the line, an i_ case may go either way.
//
// The decoder sees every case whole. The agent's stream cannot: a line ends at
// LF, so a case containing LF arrives as several lines, none of them a whole
// object, and must post nothing; every other case must post exactly what the
// decoder decided. The score is printed for the record.
//
// Usage: inputfeed-json-test-suite [gtest flags] FOLDER

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "agent.h"
#include "command/decoder.h"
#include "conformance/case_files.h"
#include "support/recording_platform.h"

namespace inputfeed {
namespace {

std::string suiteFolder;

struct Case {
    std::string name;
    std::string bytes;
    char kind;  // 'y', 'n' or 'i'
};

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    for (auto& [name, bytes] : corpus::readFiles(suiteFolder)) {
        if (name.size() > 2 && name[1] == '_' &&
            std::string("yni").find(name[0]) != std::string::npos)
            cases.push_back({name, std::move(bytes), name[0]});
    }
    return cases;
}

std::string embed(const std::string& bytes) {
    return R"({"type":"keyDown","code":"KeyA","z":)" + bytes + "}";
}

Command embeddingCommand() {
    Command command;
    command.type = "keyDown";
    command.code = "KeyA";
    return command;
}

TEST(JsonTestSuite, DecoderAcceptsYesRefusesNo) {
    const auto cases = loadCases();
    int counts[3][2] = {};  // y, n, i x refused, accepted
    std::string undecided;
    Decoder decoder;
    for (const auto& c : cases) {
        const auto command = decodeCommand(embed(c.bytes), decoder);
        const int kind = c.kind == 'y' ? 0 : c.kind == 'n' ? 1 : 2;
        ++counts[kind][command ? 1 : 0];
        if (c.kind == 'y') {
            EXPECT_EQ(command, embeddingCommand()) << c.name;
        } else if (c.kind == 'n') {
            EXPECT_FALSE(command) << c.name << " was accepted";
        } else {
            undecided += "  " + c.name + (command ? ": accepted\n" : ": refused\n");
        }
    }
    std::printf("y_: %d of %d accepted\nn_: %d of %d refused\ni_: %d accepted, %d refused\n%s",
                counts[0][1], counts[0][0] + counts[0][1], counts[1][0],
                counts[1][0] + counts[1][1], counts[2][1], counts[2][0], undecided.c_str());
    // A wrong folder must not pass as a perfect score.
    EXPECT_GT(counts[0][1] + counts[0][0], 0) << "no y_ cases in " << suiteFolder;
    EXPECT_GT(counts[1][1] + counts[1][0], 0) << "no n_ cases in " << suiteFolder;
}

TEST(JsonTestSuite, StreamPostsWhatTheDecoderDecides) {
    // Each case is followed by a marker line, so the events posted can be told
    // apart case by case.
    const std::string marker = R"({"type":"keyUp","code":"KeyZ"})";
    const auto cases = loadCases();
    std::string stream;
    for (const auto& c : cases) stream += embed(c.bytes) + "\n" + marker + "\n";

    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(stream.data(), 1, stream.size(), file), stream.size());
    std::fflush(file);
    std::rewind(file);
    RecordingPlatform platform;
    EXPECT_EQ(runAgent(fileno(file), platform), 0);
    std::fclose(file);
    EXPECT_TRUE(platform.faults.empty());

    const Recorded keyA = Recorded::key(0, true);
    const Recorded markerEvent = Recorded::key(6, false);
    std::size_t at = 1;  // after the trust request
    int split = 0;
    Decoder decoder;
    for (const auto& c : cases) {
        const bool oneLine = c.bytes.find('\n') == std::string::npos;
        split += oneLine ? 0 : 1;
        const bool expectKey = oneLine && decodeCommand(embed(c.bytes), decoder).has_value();
        if (expectKey) {
            ASSERT_LT(at, platform.posted.size()) << c.name;
            EXPECT_EQ(platform.posted[at], keyA) << c.name;
            ++at;
        }
        ASSERT_LT(at, platform.posted.size()) << c.name;
        ASSERT_EQ(platform.posted[at], markerEvent) << c.name << " posted something unexpected";
        ++at;
    }
    EXPECT_EQ(at, platform.posted.size());
    std::printf("%d cases contain a line feed and cannot arrive as one line\n", split);
}

}  // namespace
}  // namespace inputfeed

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest flags] FOLDER\n", argv[0]);
        return 2;
    }
    inputfeed::suiteFolder = argv[1];
    return RUN_ALL_TESTS();
}
