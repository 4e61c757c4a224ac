#pragma once

// A byte source for LineReader that replays a script: each read returns bytes
// of the next step (never more than `maxRead`), or fails with the step's errno.
// After the last step it reports end of input.

#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "line_reader.h"

namespace inputfeed {

struct ReadStep {
    std::string bytes;
    int error = 0;  // when non-zero the read fails with this errno instead
};

class ScriptedSource {
public:
    explicit ScriptedSource(std::vector<ReadStep> script, std::size_t maxRead = SIZE_MAX)
        : steps_(std::move(script)), maxRead_(maxRead) {}

    std::function<void()> onRead = [] {};  // called at the start of every read
    LineReader reader{&ScriptedSource::read, this};

private:
    static ssize_t read(void* context, char* buffer, std::size_t size) {
        auto& self = *static_cast<ScriptedSource*>(context);
        self.onRead();
        for (; self.step_ < self.steps_.size(); ++self.step_, self.offset_ = 0) {
            const ReadStep& step = self.steps_[self.step_];
            if (step.error != 0) {
                ++self.step_;
                errno = step.error;
                return -1;
            }
            const std::size_t n = std::min({step.bytes.size() - self.offset_, size, self.maxRead_});
            if (n == 0) continue;
            std::memcpy(buffer, step.bytes.data() + self.offset_, n);
            self.offset_ += n;
            return static_cast<ssize_t>(n);
        }
        return 0;
    }

    std::vector<ReadStep> steps_;
    std::size_t maxRead_;
    std::size_t step_ = 0;
    std::size_t offset_ = 0;
};

}  // namespace inputfeed
