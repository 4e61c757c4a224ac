#include "agent.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "command/decoder.h"
#include "support/recording_platform.h"
#include "support/scripted_source.h"

namespace inputfeed {
namespace {

using Events = std::vector<Recorded>;

const std::string kPress = R"({"type":"keyDown","code":"KeyA"})";
const std::string kRelease = R"({"type":"keyUp","code":"KeyA"})";
const std::string kClick = R"({"type":"pointerDown","x":5,"y":6,"button":2})";
const Recorded kTrust = Recorded::trust();
const Recorded kPressed = Recorded::key(0, true);
const Recorded kReleased = Recorded::key(0, false);
const Recorded kClicked = Recorded::mouse(kCGEventRightMouseDown, 5, 6, 1);

// Runs the agent over a scripted input. Every read checks that nothing posted
// is still waiting for a flush when the agent may block.
struct AgentRun {
    explicit AgentRun(std::vector<ReadStep> steps, std::size_t maxRead = SIZE_MAX)
        : source(std::move(steps), maxRead) {
        source.onRead = [this] {
            EXPECT_FALSE(platform.flushMarks.empty());
            if (!platform.flushMarks.empty()) {
                EXPECT_EQ(platform.flushMarks.back(), platform.posted.size())
                    << "blocked with unflushed events at read " << source.reads;
            }
        };
    }
    Events operator()() {
        EXPECT_EQ(runAgent(source.reader, platform), 0);
        EXPECT_TRUE(platform.faults.empty()) << platform.faults.front();
        EXPECT_EQ(platform.outstanding(), 0u);
        EXPECT_EQ(platform.flushMarks.back(), platform.posted.size()) << "nothing left unflushed";
        return platform.posted;
    }
    ScriptedSource source;
    RecordingPlatform platform;
};

TEST(Agent, HandlesEachLineInOrder) {
    const struct {
        const char* what;
        std::string input;
        Events events;
    } cases[] = {
        {"empty input", "", {kTrust}},
        {"only refused lines", "\n \nnot json\n[]\n{}\n{\"type\":1}\n", {kTrust}},
        {"refused lines change nothing after them",
         "{\"type\":\"keyDown\",\"code\":\"KeyA\"\n" + kPress + "\n\n" + kRelease + "\n",
         {kTrust, kPressed, kReleased}},
        {"CRLF", kPress + "\r\n" + kClick + "\r\n", {kTrust, kPressed, kClicked}},
        {"no final line feed", kPress + "\n" + kClick, {kTrust, kPressed, kClicked}},
        {"CR as JSON whitespace", kPress + "\r\r\n", {kTrust, kPressed}},
        {"CR alone does not end a line", kPress + "\r" + kRelease + "\n", {kTrust}},
        {"object spread over lines", "{\"type\":\"keyDown\",\n\"code\":\"KeyA\"}\n", {kTrust}},
        {"dropped commands",
         "{\"type\":\"keyDown\",\"keyCode\":0}\n{\"type\":\"pointerDown\",\"x\":1}\n",
         {kTrust}},
        {"unknown key then a known one",
         "{\"type\":\"keyDown\",\"code\":\"CapsLock\"}\n" + kPress,
         {kTrust, kPressed}},
    };
    for (const auto& c : cases) {
        for (std::size_t split : {SIZE_MAX, std::size_t{1}, std::size_t{5}}) {
            EXPECT_EQ(AgentRun({{c.input}}, split)(), c.events) << c.what << ", split " << split;
        }
    }
}

// Padding with JSON whitespace keeps a command valid however long its line, so
// these lines would act if the limit were not enforced or a tail were handled.
TEST(Agent, RefusesOverlongLinesWithoutActingOnAnyPart) {
    const auto padded = [](const std::string& command, std::size_t length) {
        return command + std::string(length - command.size(), ' ');
    };
    const std::string release = R"({"type":"keyUp","code":"KeyS"})";
    const struct {
        const char* what;
        std::string input;
        Events events;
    } cases[] = {
        {"exactly the limit",
         padded(kPress, kMaxLineBytes) + "\r\n" + kClick,
         {kTrust, kPressed, kClicked}},
        {"one byte over", padded(kPress, kMaxLineBytes + 1) + "\n" + kClick, {kTrust, kClicked}},
        {"a command in the tail",
         std::string(3 * kMaxLineBytes, ' ') + release + "\n" + kClick + "\n",
         {kTrust, kClicked}},
        {"unterminated at the end",
         kClick + "\n" + padded(kPress, 2 * kMaxLineBytes),
         {kTrust, kClicked}},
    };
    for (const auto& c : cases) EXPECT_EQ(AgentRun({{c.input}})(), c.events) << c.what;
}

TEST(Agent, GoesOnWhenThePlatformCreatesNoEvent) {
    AgentRun run({{kPress + "\n" + kClick + "\n" + kRelease + "\n" + kClick + "\n"}});
    run.platform.failAttempts = {0, 2};
    EXPECT_EQ(run(), (Events{kTrust, kClicked, kClicked}));
    EXPECT_EQ(run.platform.attempts, 4u);
}

TEST(Agent, FlushesOncePerBurstAndBeforeEveryWait) {
    // Three lines in one read cost one flush; a line split over reads is
    // flushed right after it is handled, before the next wait.
    AgentRun burst({{kPress + "\n" + kRelease + "\n" + kClick + "\n"}});
    EXPECT_EQ(burst(), (Events{kTrust, kPressed, kReleased, kClicked}));
    EXPECT_EQ(burst.platform.flushMarks, (std::vector<std::size_t>{1, 4, 4}));

    AgentRun trickle(
        {{kPress + "\n" + kRelease.substr(0, 3)}, {kRelease.substr(3) + "\n" + kClick}});
    EXPECT_EQ(trickle(), (Events{kTrust, kPressed, kReleased, kClicked}));
    EXPECT_EQ(trickle.platform.flushMarks, (std::vector<std::size_t>{1, 2, 3, 4}));
}

TEST(Agent, ReadsADescriptorToItsEnd) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string input = kPress + "\n" + kClick;
    ASSERT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    ::close(fds[1]);
    RecordingPlatform platform;
    EXPECT_EQ(runAgent(fds[0], platform), 0);
    ::close(fds[0]);
    EXPECT_EQ(platform.posted, (Events{kTrust, kPressed, kClicked}));
}

}  // namespace
}  // namespace inputfeed
