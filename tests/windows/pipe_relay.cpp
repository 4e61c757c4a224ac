// pipe_relay.exe COMMAND [ARG...]: runs the command with its standard input a
// Windows pipe, into which it copies its own standard input, making a
// zero-length write before every piece and after the last. Windows hands the
// reader such a write as an empty read, which must not end its input; closing
// the pipe must. Output and error are the command's; the exit status too.
// A message pipe, because Wine drops a zero-length write into a byte pipe.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main() {
    // The command line after our own name, quoted or not.
    const wchar_t* command = GetCommandLineW();
    const wchar_t end = *command == L'"' ? L'"' : L' ';
    for (++command; *command && *command != end; ++command) {
    }
    while (*command == L'"' || *command == L' ') ++command;

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    wchar_t name[64];
    std::swprintf(name, 64, L"\\\\.\\pipe\\inputfeed-relay-%lu", GetCurrentProcessId());
    const HANDLE writeEnd = CreateNamedPipeW(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_MESSAGE, 1,
                                             1 << 16, 1 << 16, 0, nullptr);
    const HANDLE readEnd = CreateFileW(name, GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
    if (writeEnd == INVALID_HANDLE_VALUE || readEnd == INVALID_HANDLE_VALUE) return 125;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child{};
    wchar_t line[4096];
    if (lstrlenW(command) >= 4096) return 125;
    lstrcpyW(line, command);
    if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &child)) {
        std::fprintf(stderr, "pipe_relay: cannot start the command (error %lu)\n", GetLastError());
        return 125;
    }
    CloseHandle(readEnd);

    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    static char buffer[1 << 16];
    DWORD got = 0, written = 0;
    while (WriteFile(writeEnd, buffer, 0, &written, nullptr) &&
           ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        // A reader that stopped early breaks the pipe; the rest is dropped.
        if (!WriteFile(writeEnd, buffer, got, &written, nullptr)) break;
    }
    CloseHandle(writeEnd);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(child.hProcess, &status);
    return static_cast<int>(status);
}
