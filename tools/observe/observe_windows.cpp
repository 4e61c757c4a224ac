// inputfeed-observe.exe: runs a command while a full-screen window of its own
// has the focus, and prints the input Windows delivered, as low-level hooks
// (the system's input stream) and that window (what an application gets) saw
// it. One line per fact, in the order the input happened:
//
//   move X Y                       the pointer moved to (X, Y), virtual-screen pixels
//   press|release B X Y            button B (left, middle, right) went down or up at (X, Y)
//   window press|release B X Y       ... and the window received it at client (X, Y)
//   keydown|keyup VK SCAN          a key went down or up: virtual key, scan code (hex,
//                                  "e0" before it for an extended key)
//   char C                           ... and the window received the character C
//                                  (printable ASCII as itself, else U+XXXX); not
//                                  printed while Ctrl, Alt or the Windows key is
//                                  down, when a key is a shortcut, not typing
//
// The window's messages come later than the hooks' and are matched to them in
// order; a hook event the window never saw is printed without its window line.
// The pointer starts at (1, 1), placed there unseen, so that the output does not
// depend on earlier runs; a move to where the pointer already is is not printed
// (Wine does not report one, Windows does). Where the pointer rests at the end
// is not printed: under Wine the system's cursor position does not follow hooked
// input.
//
//   inputfeed-observe.exe [--hidden] COMMAND [ARG...]
//
// --hidden observes nothing: it runs the command on a window station of its own,
// which, like a service's, has no keyboard, mouse or display. The command
// inherits the standard streams. The exit status is the command's.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <deque>
#include <string>

namespace {

struct Fact {
    std::string text;  // the hook's line(s)
    UINT awaited = 0;  // the window message that completes it, 0 when none
};

std::deque<Fact> pending;  // in hook order; printed once complete
HWND window = nullptr;
POINT pointer{1, 1};

std::string format(const char* pattern, long a, long b = 0, long c = 0) {
    char line[64];
    std::snprintf(line, sizeof line, pattern, a, b, c);
    return line;
}

void printComplete(bool all) {
    while (!pending.empty() && (all || pending.front().awaited == 0)) {
        std::fputs(pending.front().text.c_str(), stdout);
        pending.pop_front();
    }
    std::fflush(stdout);
}

const char* buttonName(UINT message) {
    switch (message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP: return "left";
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP: return "middle";
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP: return "right";
        default: return nullptr;
    }
}

bool isDown(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_MBUTTONDOWN || message == WM_RBUTTONDOWN ||
           message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
}

LRESULT CALLBACK onMouse(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        const auto& info = *reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
        const auto message32 = static_cast<UINT>(message);
        if (message32 == WM_MOUSEMOVE) {
            if (info.pt.x != pointer.x || info.pt.y != pointer.y) {
                pending.push_back({format("move %ld %ld\n", info.pt.x, info.pt.y)});
            }
            pointer = info.pt;
        } else if (const char* name = buttonName(message32)) {
            const std::string verb = isDown(message32) ? "press " : "release ";
            pending.push_back(
                {verb + name + format(" %ld %ld\n", info.pt.x, info.pt.y), message32});
        }
    }
    return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK onKey(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION) {
        const auto& info = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
        const bool down = isDown(static_cast<UINT>(message));
        const bool extended = (info.flags & LLKHF_EXTENDED) != 0;
        std::string line =
            format(down ? "keydown %02lx " : "keyup %02lx ", static_cast<long>(info.vkCode));
        line += format(extended ? "e0%02lx\n" : "%02lx\n", static_cast<long>(info.scanCode));
        pending.push_back({line, down ? UINT{WM_KEYDOWN} : UINT{WM_KEYUP}});
    }
    return CallNextHookEx(nullptr, code, message, data);
}

// The oldest hook fact still waiting for this window message.
Fact* awaiting(UINT message) {
    for (Fact& fact : pending) {
        if (fact.awaited == message) return &fact;
    }
    return nullptr;
}

void appendCharacters(std::string& text) {
    // The key state as of the message being handled.
    const bool shortcut =
        GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0 || GetKeyState(VK_LWIN) < 0;
    MSG next;
    while (PeekMessageW(&next, window, WM_CHAR, WM_CHAR, PM_REMOVE)) {
        if (shortcut) continue;
        const auto c = static_cast<long>(next.wParam);
        text += c > 0x20 && c < 0x7f ? format("char %c\n", c) : format("char U+%04lX\n", c);
    }
}

// Records what the window received; true for a message handled here.
bool onWindowMessage(MSG& message) {
    UINT kind = message.message;
    if (kind == WM_SYSKEYDOWN) kind = WM_KEYDOWN;
    if (kind == WM_SYSKEYUP) kind = WM_KEYUP;
    if (const char* name = buttonName(kind)) {
        if (Fact* fact = awaiting(kind)) {
            fact->text += std::string("window ") + (isDown(kind) ? "press " : "release ") + name +
                          format(" %ld %ld\n", static_cast<short>(LOWORD(message.lParam)),
                                 static_cast<short>(HIWORD(message.lParam)));
            fact->awaited = 0;
        }
        return true;
    }
    if (kind == WM_KEYDOWN || kind == WM_KEYUP) {
        Fact* fact = awaiting(kind);
        TranslateMessage(&message);
        if (fact) {
            if (kind == WM_KEYDOWN) appendCharacters(fact->text);
            fact->awaited = 0;
        }
        // Alt and F10 would otherwise start menu mode on their release.
        return true;
    }
    return false;
}

LRESULT CALLBACK windowProcedure(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETCURSOR) return TRUE;
    return DefWindowProcW(hwnd, message, w, l);
}

// Handles every message that has arrived; true when any did.
bool pump() {
    bool any = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        any = true;
        if (message.hwnd != window || !onWindowMessage(message)) DispatchMessageW(&message);
    }
    printComplete(false);
    return any;
}

int fail(const char* message) {
    std::fprintf(stderr, "inputfeed-observe: %s (error %lu)\n", message, GetLastError());
    return 2;
}

// The command line after its first word, as given.
const wchar_t* afterFirstWord(const wchar_t* line) {
    const bool quoted = *line == L'"';
    if (quoted) ++line;
    while (*line && (quoted ? *line != L'"' : *line != L' ' && *line != L'\t')) ++line;
    if (quoted && *line) ++line;
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

// Starts the command with our standard streams; on `desktop` when given.
bool start(std::wstring& command, wchar_t* desktop, PROCESS_INFORMATION& child) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child)) {
        return false;
    }
    CloseHandle(child.hThread);
    return true;
}

int exitStatus(HANDLE process) {
    DWORD status = 0;
    GetExitCodeProcess(process, &status);
    return static_cast<int>(status);
}

// A window station made here has no WSF_VISIBLE flag: nothing can be shown on
// it or typed into it. Its desktop is made while the process belongs to it.
int runHidden(std::wstring& command) {
    const HWINSTA interactive = GetProcessWindowStation();
    const HWINSTA station =
        CreateWindowStationW(L"inputfeed-hidden", 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station || !SetProcessWindowStation(station)) return fail("cannot make a window station");
    const HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    SetProcessWindowStation(interactive);
    if (!desktop) return fail("cannot make a desktop");
    wchar_t name[] = L"inputfeed-hidden\\Default";
    PROCESS_INFORMATION child{};
    if (!start(command, name, child)) return fail("cannot start the command");
    WaitForSingleObject(child.hProcess, INFINITE);
    return exitStatus(child.hProcess);
}

}  // namespace

int main() {
    _setmode(_fileno(stdout), _O_BINARY);
    std::wstring command = afterFirstWord(GetCommandLineW());
    if (command.empty()) return fail("usage: inputfeed-observe.exe [--hidden] COMMAND [ARG...]");
    if (command.starts_with(L"--hidden ")) {
        command = afterFirstWord(command.c_str());
        return runHidden(command);
    }

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"inputfeed-observe";
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    if (!RegisterClassW(&windowClass)) return fail("cannot register the window class");
    window =
        CreateWindowExW(WS_EX_TOPMOST, windowClass.lpszClassName, L"inputfeed-observe",
                        WS_POPUP | WS_VISIBLE, GetSystemMetrics(SM_XVIRTUALSCREEN),
                        GetSystemMetrics(SM_YVIRTUALSCREEN), GetSystemMetrics(SM_CXVIRTUALSCREEN),
                        GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr, nullptr, instance, nullptr);
    if (!window) return fail("cannot create the window");
    SetForegroundWindow(window);
    SetFocus(window);
    for (int i = 0; i < 500 && GetForegroundWindow() != window; ++i) {
        pump();
        Sleep(10);
    }
    if (GetForegroundWindow() != window) return fail("the window did not get the focus");
    SetCursorPos(pointer.x, pointer.y);  // not input: no hook sees it
    pump();

    const HHOOK mouseHook = SetWindowsHookExW(WH_MOUSE_LL, onMouse, instance, 0);
    const HHOOK keyHook = SetWindowsHookExW(WH_KEYBOARD_LL, onKey, instance, 0);
    if (!mouseHook || !keyHook) return fail("cannot install the low-level hooks");

    PROCESS_INFORMATION child{};
    if (!start(command, nullptr, child)) return fail("cannot start the command");
    while (MsgWaitForMultipleObjects(1, &child.hProcess, FALSE, INFINITE, QS_ALLINPUT) !=
           WAIT_OBJECT_0) {
        pump();
    }
    // The window's messages trail the hooks: wait for a quiet spell.
    do {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 200, QS_ALLINPUT);
    } while (pump());
    printComplete(true);
    return exitStatus(child.hProcess);
}
