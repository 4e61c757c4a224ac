// Drives a program of the agent through pipes, for the checks that a file on
// standard input cannot make. The command may start with a launcher (valgrind).
//
//   inputfeed-e2e-driver live <command...>
//     Writes commands while keeping standard input open and waits for each
//     one's output line before writing more: a line must be acted on at once.
//   inputfeed-e2e-driver closed-output <command...>
//     Runs the program with standard output closed, unreadable (the reader
//     gone) and full: it must read its input to the end and exit with status 0,
//     silently and without being killed by a signal.
//
// Exits 0 when every check passes, 1 otherwise (with the reason on stderr).

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
// Generous: a launcher such as valgrind takes seconds to start.
constexpr auto kPatience = std::chrono::seconds(60);

bool failed = false;

void fail(const std::string& what) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    failed = true;
}

std::string shown(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n\n    ";
        } else {
            out += c;
        }
    }
    return "\n    " + out;
}

enum class Output { pipe, closed, readerGone, full };

struct Child {
    pid_t pid = -1;
    int in = -1;   // its standard input
    int out = -1;  // its standard output, when a pipe we read
    int err = -1;  // its standard error
};

Child spawn(char** command, Output output) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        std::perror("fork");
        std::exit(1);
    }
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(err[1], 2);
        switch (output) {
            case Output::pipe:
            case Output::readerGone: ::dup2(out[1], 1); break;
            case Output::closed: ::close(1); break;
            case Output::full: {
                const int full = ::open("/dev/full", O_WRONLY);
                if (full < 0) ::_exit(125);
                ::dup2(full, 1);
                break;
            }
        }
        for (const int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        // The child starts with the default SIGPIPE action, as from a shell.
        ::signal(SIGPIPE, SIG_DFL);
        ::execvp(command[0], command);
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (output == Output::readerGone) {
        ::close(out[0]);
        out[0] = -1;
    }
    return {pid, in[1], out[0], err[0]};
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads from `fd` into `into` until it holds `size` bytes, end of file, or time runs out.
void readUntil(int fd, std::string& into, std::size_t size, Clock::time_point deadline) {
    char buffer[4096];
    while (into.size() < size) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return;
        pollfd ready{fd, POLLIN, 0};
        const int r = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        into.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string drain(int fd, Clock::time_point deadline) {
    std::string all;
    readUntil(fd, all, SIZE_MAX, deadline);
    return all;
}

// Waits for the child; true when it exited with status 0.
void expectCleanExit(const Child& child, const std::string& what) {
    const auto deadline = Clock::now() + kPatience;
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(child.pid, &status, WNOHANG);
        if (r == child.pid) break;
        if (Clock::now() > deadline) {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
            return fail(what + ": did not exit after its input ended");
        }
        ::usleep(2000);
    }
    if (WIFSIGNALED(status)) {
        fail(what + ": killed by signal " + std::to_string(WTERMSIG(status)));
    } else if (WEXITSTATUS(status) != 0) {
        fail(what + ": exit status " + std::to_string(WEXITSTATUS(status)));
    }
}

void expectSilent(const Child& child, const std::string& what) {
    const std::string errors = drain(child.err, Clock::now() + kPatience);
    if (!errors.empty()) fail(what + ": wrote to standard error:" + shown(errors));
}

void live(char** command) {
    struct Step {
        std::string input;   // written in one go, standard input staying open
        std::string output;  // must appear before anything more is written
    };
    const Step steps[] = {
        {"", "{\"event\":\"trust\",\"prompt\":true}\n"},
        {"{\"type\":\"pointerDown\",\"x\":1.5,\"y\":-2,\"button\":1}\n",
         "{\"event\":\"mouse\",\"type\":25,\"x\":1.5,\"y\":-2,\"button\":2}\n"},
        // Two lines and the start of a third arrive together; both complete
        // lines must come out although the third is still unfinished.
        {"{\"type\":\"keyDown\",\"code\":\"KeyA\"}\r\n{\"type\":\"keyUp\",\"code\":\"KeyA\"}\n"
         "{\"type\":\"pointerUp\",\"x\":3,",
         "{\"event\":\"key\",\"keyCode\":0,\"down\":true}\n"
         "{\"event\":\"key\",\"keyCode\":0,\"down\":false}\n"},
    };
    const Child child = spawn(command, Output::pipe);
    std::string output;
    std::string expected;
    for (const Step& step : steps) {
        if (!writeAll(child.in, step.input)) fail("could not write " + shown(step.input));
        expected += step.output;
        readUntil(child.out, output, expected.size(), Clock::now() + kPatience);
        if (output != expected) {
            fail("after writing" + shown(step.input) +
                 "\nexpected, with input still open:" + shown(expected) + "\ngot:" + shown(output));
            break;
        }
    }
    // The unfinished line is completed without a terminator: at end of input
    // it is still handled.
    writeAll(child.in, "\"y\":4}");
    ::close(child.in);
    expected += "{\"event\":\"mouse\",\"type\":2,\"x\":3,\"y\":4,\"button\":0}\n";
    output += drain(child.out, Clock::now() + kPatience);
    if (output != expected)
        fail("expected in the end:" + shown(expected) + "\ngot:" + shown(output));
    expectSilent(child, "live");
    expectCleanExit(child, "live");
}

void closedOutput(char** command) {
    std::string input;
    for (int i = 0; i < 20000; ++i) {
        input += "{\"type\":\"pointerMove\",\"x\":" + std::to_string(i) + ",\"y\":1}\n";
    }
    const struct {
        Output output;
        const char* what;
    } cases[] = {
        {Output::closed, "standard output closed"},
        {Output::readerGone, "standard output a pipe nobody reads"},
        {Output::full, "standard output full (/dev/full)"},
    };
    for (const auto& c : cases) {
        // Not every system has a device that is always full (macOS has none).
        if (c.output == Output::full && ::access("/dev/full", W_OK) != 0) continue;
        const Child child = spawn(command, c.output);
        if (!writeAll(child.in, input)) fail(std::string(c.what) + ": stopped reading its input");
        ::close(child.in);
        expectSilent(child, c.what);
        expectCleanExit(child, c.what);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s live|closed-output <command...>\n", argv[0]);
        return 2;
    }
    // A program that stops reading must show up as a failed write, not kill us.
    ::signal(SIGPIPE, SIG_IGN);
    const std::string mode = argv[1];
    if (mode == "live") {
        live(argv + 2);
    } else if (mode == "closed-output") {
        closedOutput(argv + 2);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    return failed ? 1 : 0;
}
