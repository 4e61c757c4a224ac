// Latency from writing one line to the agent until the X server delivers the
// resulting event to another client.
//
//   inputfeed-latency PROGRAM [COUNT]   time the agent PROGRAM (e.g. build/release/src/inputfeed)
//   inputfeed-latency --raw [COUNT]     time our own XTest posts: the platform's floor
//
// The agent runs with a pipe as its standard input that stays open throughout,
// so every line has to be acted on while more input may still come. Lines are
// pointer moves alternating between two areas of the screen, so each one really
// moves the pointer and yields exactly one event. This program watches for
// XInput2 raw motion events on its own connection, which the server sends as it
// processes each event, and prints the median, 99th percentile and maximum of
// the COUNT (default 2000) write-to-delivery times after a short warm-up.

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <libgen.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWarmUp = 50;

double nowMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) * 1e-3;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inputfeed-latency: %s\n", what);
    std::exit(1);
}

class Observer {
public:
    Observer() : display_(XOpenDisplay(nullptr)) {
        if (!display_) fail("cannot open display");
        int event = 0, error = 0;
        if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error))
            fail("no XInput");
        int major = 2, minor = 1;
        if (XIQueryVersion(display_, &major, &minor) != Success) fail("XInput 2.1 is needed");
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawMotion);
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
        XSync(display_, False);
    }
    ~Observer() { XCloseDisplay(display_); }
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    // Waits up to `timeoutMs` for the next raw motion event; returns when it
    // arrived (in microseconds), or a negative number on time-out.
    double nextMotion(int timeoutMs) {
        const double deadline = nowMicros() + timeoutMs * 1000.0;
        for (;;) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.xcookie.type == GenericEvent && event.xcookie.extension == opcode_ &&
                    event.xcookie.evtype == XI_RawMotion) {
                    return nowMicros();
                }
            }
            const double left = deadline - nowMicros();
            if (left <= 0) return -1;
            pollfd fd{ConnectionNumber(display_), POLLIN, 0};
            poll(&fd, 1, static_cast<int>(left / 1000) + 1);
        }
    }

    // Drops events that are already here (none are expected).
    int drain() {
        int dropped = 0;
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            ++dropped;
        }
        return dropped;
    }

private:
    Display* display_;
    int opcode_ = 0;
};

// Either the agent behind a pipe or our own XTest connection.
class Poster {
public:
    explicit Poster(const char* program) {
        if (!program) {
            display_ = XOpenDisplay(nullptr);
            if (!display_) fail("cannot open display");
            return;
        }
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
        if (display_) {
            XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
            XFlush(display_);
            return;
        }
        char line[96];
        const int length = std::snprintf(line, sizeof line,
                                         "{\"type\":\"pointer\",\"x\":%d.25,\"y\":%d.25}\n", x, y);
        if (write(pipe_, line, static_cast<std::size_t>(length)) != length)
            fail("write to the agent failed");
    }

    // Ends the agent's input and returns its exit status.
    int finish() {
        if (display_) {
            XCloseDisplay(display_);
            return 0;
        }
        close(pipe_);
        int status = 0;
        waitpid(child_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

private:
    Display* display_ = nullptr;
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

    Observer observer;
    Poster poster(raw ? nullptr : argv[1]);
    std::vector<double> micros;
    int lost = 0;
    int extra = 0;
    for (int i = 0; i < kWarmUp + count; ++i) {
        // Alternate between the left and the right half so every line moves the pointer.
        const int x = (i % 2 == 0 ? 100 : 700) + (i / 2) % 300;
        const int y = (i % 2 == 0 ? 200 : 600) + (i / 2) % 200;
        extra += observer.drain();
        const double written = nowMicros();
        poster.moveTo(x, y);
        // The first line also waits for the agent to start and connect.
        const double delivered = observer.nextMotion(i == 0 ? 10000 : 1000);
        if (delivered < 0) {
            ++lost;
            continue;
        }
        if (i >= kWarmUp) micros.push_back(delivered - written);
    }
    const int status = poster.finish();
    if (status != 0) {
        std::fprintf(stderr, "inputfeed-latency: the agent exited with status %d\n", status);
        return 1;
    }
    if (micros.empty()) fail("no event was ever delivered");
    std::sort(micros.begin(), micros.end());
    std::printf(
        "%s: %zu lines, median %.1f us, p99 %.1f us, max %.1f us (lost %d, unexpected %d)\n",
        raw ? "raw XTest" : basename(argv[1]), micros.size(), percentile(micros, 0.5),
        percentile(micros, 0.99), micros.back(), lost, extra);
    return lost == 0 ? 0 : 1;
}
