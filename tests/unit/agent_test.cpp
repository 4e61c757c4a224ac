// How the input loop hands events to the platform; what each line does is
// checked end to end. Everything posted must be flushed before the agent may
// block on its input, while a burst of lines that arrived together costs one flush.

#include "agent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_platform.h"
#include "support/scripted_source.h"

namespace inputfeed {
namespace {

TEST(Agent, FlushesOncePerBurstAndBeforeEveryWait) {
    const std::string press = R"({"type":"keyDown","code":"KeyA"})";
    const std::string release = R"({"type":"keyUp","code":"KeyA"})";
    const std::string click = R"({"type":"pointerDown","x":5,"y":6,"button":2})";
    const struct {
        std::vector<ReadStep> reads;
        std::vector<std::size_t> flushMarks;  // events posted by each flush
    } cases[] = {
        // Three lines in one read: one flush once the burst is handled.
        {{{press + "\n" + release + "\n" + click + "\n"}}, {1, 4, 4}},
        // A line completed by a later read is flushed before the next wait.
        {{{press + "\n" + release.substr(0, 3)}, {release.substr(3) + "\n" + click}}, {1, 2, 3, 4}},
    };
    for (const auto& c : cases) {
        ScriptedSource source(c.reads);
        RecordingPlatform platform;
        source.onRead = [&] {
            EXPECT_TRUE(!platform.flushMarks.empty() &&
                        platform.flushMarks.back() == platform.posted.size())
                << "waiting for input with unflushed events";
        };
        EXPECT_EQ(runAgent(source.reader, platform), 0);
        // KeyA is virtual key 0; a right press is event type 3 with button 1.
        EXPECT_EQ(platform.posted,
                  (std::vector<std::string>{"trust", "key 0 down", "key 0 up", "mouse 3 5 6 1"}));
        EXPECT_EQ(platform.flushMarks, c.flushMarks);
        EXPECT_TRUE(platform.faults.empty() && !platform.outstanding());
    }
}

}  // namespace
}  // namespace inputfeed
