#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/streams.h"

namespace inputfeed {
namespace {

// Waits until `fd` is ready for `events`; false if waiting itself failed.
bool await(int fd, short events) {
    pollfd ready{fd, events, 0};
    return ::poll(&ready, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

void prepareStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() returns the lowest free number, which is this one.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != -1 && opened != fd) ::close(opened);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

ssize_t readInput(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        // A descriptor inherited in non-blocking mode would otherwise end the
        // input the first time the sender pauses.
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && await(fd, POLLIN)) continue;
        return -1;
    }
}

bool awaitInput(int inputFd, int connectionFd) {
    if (connectionFd < 0) return true;
    pollfd ready[2] = {{inputFd, POLLIN, 0}, {connectionFd, POLLIN, 0}};
    while (::poll(ready, 2, -1) < 0) {
        if (errno != EINTR) return true;  // the read will tell what is wrong
    }
    return ready[0].revents != 0 || ready[1].revents == 0;
}

bool writeOutput(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(STDOUT_FILENO, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Standard output inherited in non-blocking mode: wait, do not drop.
            if (!await(STDOUT_FILENO, POLLOUT)) return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace inputfeed
