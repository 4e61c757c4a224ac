// Fuzzes the whole input loop: arbitrary bytes reach runAgent through a pipe,
// and the events it posts through a recording platform must be exactly those
// that splitting the bytes into lines and decoding each line on its own gives.
//
// Input: the first byte steers the delivery, the rest is the stream.
//   bits 0-3  chunk size (kChunkSizes; 0 means the whole stream at once): the
//             first kMaxHandoffs chunks are written one by one, each only once
//             the reader has drained the one before, so lines split across
//             reads at the same places on every run; the rest follows at once;
//   bit 7     expansion: a byte 0xFF followed by a byte n repeats the last
//             byte so far (n + 1) * 4096 more times, so that a small input can
//             hold a line beyond the 1 MiB limit (the stream is cut at 1 MiB
//             plus 64 KiB, which keeps executions fast).
//
// Invariants: runAgent returns 0 having read to the end of the input; the trust
// request comes first; every created event is posted once and released once;
// the posted events equal the independently worked-out ones; the platform is
// flushed after the last event. (A platform that creates no events is the macOS
// stand-in's case, which runs the case table with every second creation failing.)

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "agent.h"
#include "command/decoder.h"
#include "dispatch.h"
#include "support/recording_platform.h"

namespace {

using namespace inputfeed;

constexpr std::size_t kChunkSizes[16] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 7, 64, 255, 4095, 4096};
// Each handover costs two context switches; a bound keeps executions fast.
constexpr std::size_t kMaxHandoffs = 64;
constexpr std::size_t kExpansionUnit = 4096;
constexpr std::size_t kMaxStream = kMaxLineBytes + 65536;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_agent: %s\n", what);
    std::abort();
}

std::string expand(std::string_view raw, bool expanding) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (expanding && raw[i] == '\xFF' && !out.empty() && i + 1 < raw.size()) {
            const std::size_t count = (static_cast<unsigned char>(raw[++i]) + 1u) * kExpansionUnit;
            out.append(std::min(count, kMaxStream - std::min(kMaxStream, out.size())), out.back());
        } else {
            out += raw[i];
        }
    }
    return out;
}

// The events the stream must produce, from its lines decoded one by one: a line
// ends at LF, one CR before the LF goes with the terminator, an unterminated
// last line counts, and a line over the length limit is refused whole.
std::vector<std::string> expectedEvents(std::string_view stream) {
    static Decoder decoder;
    RecordingPlatform reference;
    reference.requestTrust();
    std::size_t start = 0;
    while (start < stream.size()) {
        std::size_t end = stream.find('\n', start);
        const bool terminated = end != std::string_view::npos;
        if (!terminated) end = stream.size();
        std::string_view line = stream.substr(start, end - start);
        if (terminated && line.ends_with('\r')) line.remove_suffix(1);
        if (line.size() <= kMaxLineBytes) {
            if (const auto command = decodeCommand(line, decoder)) {
                if (const auto event = dispatchCommand(*command, reference)) {
                    reference.postEvent(*event);
                    reference.releaseEvent(*event);
                }
            }
        }
        start = end + 1;
    }
    return reference.posted;
}

// Writes the stream chunk by chunk, each once the pipe is empty, then the rest
// at once, and closes the pipe. Once the agent has returned, whatever is left
// goes straight to the caller's drain.
void deliver(int fd, std::string_view stream, std::size_t chunk, const std::atomic<bool>& done) {
    std::size_t offset = 0;
    for (std::size_t handoffs = 0; offset < stream.size(); ++handoffs) {
        int pending = 0;
        while (chunk != 0 && !done && ioctl(fd, FIONREAD, &pending) == 0 && pending > 0)
            std::this_thread::yield();
        const std::size_t size = chunk != 0 && handoffs < kMaxHandoffs
                                     ? std::min(chunk, stream.size() - offset)
                                     : stream.size() - offset;
        const ssize_t written = write(fd, stream.data() + offset, size);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) break;  // the reader has gone
        offset += static_cast<std::size_t>(written);
    }
    close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ignoringSigpipe = [] { return signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
    if (size == 0 || !ignoringSigpipe) return 0;
    const std::string stream =
        expand(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), data[0] & 0x80);
    const std::size_t chunk = kChunkSizes[data[0] & 0x0F];

    int fds[2];
    if (pipe(fds) != 0) fail("pipe");
    RecordingPlatform recording;
    std::atomic<bool> done = false;
    std::thread writer(deliver, fds[1], std::string_view(stream), chunk, std::cref(done));
    const int status = runAgent(fds[0], recording);
    done = true;
    // Whatever the agent left unread would make the writer wait: drain it, and
    // count it, since the agent must read to the end of its input.
    std::size_t unread = 0;
    char scrap[4096];
    for (ssize_t n; (n = read(fds[0], scrap, sizeof scrap)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("the agent closed its input");
        unread += static_cast<std::size_t>(n);
    }
    writer.join();
    close(fds[0]);

    if (status != 0) fail("runAgent returned a status other than 0");
    if (unread != 0) fail("the agent stopped before the end of its input");
    if (!recording.faults.empty()) fail(recording.faults.front().c_str());
    if (recording.outstanding()) fail("an event was created and never released");
    if (recording.flushMarks.empty() || recording.flushMarks.back() != recording.posted.size())
        fail("events posted after the last flush");
    // The expected events start with the trust request, so this also checks that it came first.
    if (recording.posted != expectedEvents(stream))
        fail("the posted events differ from the lines' own decoding");
    return 0;
}
