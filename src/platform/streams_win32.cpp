// The standard streams on Windows. Input and output go straight to the
// underlying handles, so the C runtime's text mode, which stops reading at a
// 0x1A byte and turns every LF into CR LF, never touches the bytes.
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "platform/streams.h"

namespace inputfeed {

// Windows reuses no handle numbers the way POSIX reuses descriptors, and has no
// SIGPIPE: a write to a vanished reader already fails with an error. What is
// left is the C runtime's own streams (the messages on standard error), which
// start in text mode; binary mode keeps their line ends LF, as elsewhere.
void prepareStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1) _setmode(fd, _O_BINARY);
    }
}

ssize_t readInput(int fd, char* buffer, std::size_t size) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
        errno = EBADF;
        return -1;
    }
    const auto wanted = static_cast<DWORD>(size < (DWORD{1} << 30) ? size : (DWORD{1} << 30));
    for (;;) {
        DWORD got = 0;
        // An empty successful read is the end of a file, and under Wine also
        // of a pipe (Windows itself reports a closed pipe as below).
        if (ReadFile(handle, buffer, wanted, &got, nullptr)) return static_cast<ssize_t>(got);
        switch (GetLastError()) {
            case ERROR_BROKEN_PIPE:  // every writer closed the pipe: end of input
            case ERROR_HANDLE_EOF: return 0;
            case ERROR_OPERATION_ABORTED: continue;  // the read was cancelled, as EINTR
            default: errno = EIO; return -1;
        }
    }
}

// No Windows backend has a connection of its own to wait on.
bool awaitInput(int, int) {
    return true;
}

bool writeOutput(const char* data, std::size_t size) {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return false;
    while (size > 0) {
        const auto chunk = static_cast<DWORD>(size < (DWORD{1} << 30) ? size : (DWORD{1} << 30));
        DWORD written = 0;
        // Fails once the reader has gone (ERROR_NO_DATA) or the disk is full.
        if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace inputfeed
