// Latency from writing one line to the agent until the desktop delivers the
// resulting event to another client.
//
//   inputfeed-latency[-wayland] PROGRAM [COUNT]   time the agent PROGRAM
//   inputfeed-latency[-wayland] --raw [COUNT]     time the platform's own way: the floor
//
// The agent runs with a pipe as its standard input that stays open throughout,
// so every line has to be acted on while more input may still come. Lines are
// pointer moves alternating between two areas of the screen, so each one really
// moves the pointer and yields exactly one event. This program watches for the
// motions delivered to a client of its own (latency.h: on X11 as XInput2 raw
// motion, which the server sends as it processes each event; on Wayland as
// pointer motion to full-screen windows) and prints the median, 99th percentile
// and maximum of the COUNT (default 2000) write-to-delivery times after a short
// warm-up.

#include "latency.h"

#include <libgen.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/clock.h"

namespace inputfeed::bench {

double nowMicros() {
    return inputfeed::monotonic<std::chrono::duration<double, std::micro>>();
}

void fail(const char* what) {
    std::fprintf(stderr, "inputfeed-latency: %s\n", what);
    std::exit(1);
}

}  // namespace inputfeed::bench

namespace {

using namespace inputfeed::bench;

constexpr int kWarmUp = 50;

// The agent behind a pipe that stays open.
class Poster {
public:
    explicit Poster(const char* program) {
        int fds[2];
        if (pipe(fds) != 0) fail("pipe failed");
        child_ = fork();
        if (child_ == 0) {
            dup2(fds[0], STDIN_FILENO);
            close(fds[0]);
            close(fds[1]);
            execl(program, program, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[0]);
        pipe_ = fds[1];
    }

    void moveTo(int x, int y) {
        char line[96];
        const int length = std::snprintf(line, sizeof line,
                                         "{\"type\":\"pointer\",\"x\":%d.25,\"y\":%d.25}\n", x, y);
        if (write(pipe_, line, static_cast<std::size_t>(length)) != length)
            fail("write to the agent failed");
    }

    // Ends the agent's input and returns its exit status.
    int finish() {
        close(pipe_);
        int status = 0;
        waitpid(child_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

private:
    pid_t child_ = -1;
    int pipe_ = -1;
};

double percentile(const std::vector<double>& sorted, double p) {
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(sorted.size()) + 0.999999);
    return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: inputfeed-latency PROGRAM|--raw [COUNT]\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const bool raw = std::strcmp(argv[1], "--raw") == 0;
    const int count = argc >= 3 ? std::max(1, std::atoi(argv[2])) : 2000;

    const auto desktop = openDesktop();
    std::unique_ptr<Poster> poster;
    if (!raw) poster = std::make_unique<Poster>(argv[1]);
    std::vector<double> micros;
    int lost = 0;
    int extra = 0;
    for (int i = 0; i < kWarmUp + count; ++i) {
        // Alternate between the left and the right half so every line moves the pointer.
        const int x = (i % 2 == 0 ? 100 : 700) + (i / 2) % 300;
        const int y = (i % 2 == 0 ? 100 : 400) + (i / 2) % 200;
        extra += desktop->drain();
        const double written = nowMicros();
        if (poster) {
            poster->moveTo(x, y);
        } else {
            desktop->moveRaw(x, y);
        }
        // The first line also waits for the agent to start and connect.
        const double delivered = desktop->nextMotion(i == 0 ? 10000 : 1000);
        if (delivered < 0) {
            ++lost;
            continue;
        }
        if (i >= kWarmUp) micros.push_back(delivered - written);
    }
    const int status = poster ? poster->finish() : 0;
    if (status != 0) {
        std::fprintf(stderr, "inputfeed-latency: the agent exited with status %d\n", status);
        return 1;
    }
    if (micros.empty()) fail("no event was ever delivered");
    std::sort(micros.begin(), micros.end());
    std::printf(
        "%s: %zu lines, median %.1f us, p99 %.1f us, max %.1f us (lost %d, unexpected %d)\n",
        raw ? desktop->rawName() : basename(argv[1]), micros.size(), percentile(micros, 0.5),
        percentile(micros, 0.99), micros.back(), lost, extra);
    return lost == 0 ? 0 : 1;
}
