// inputfeed-check on Windows: SendInput reaches the desktop that receives the
// user's input only from a process on that desktop; a service's window
// station, a locked workstation or a secure desktop (a UAC prompt) has none.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "platform/check.h"

namespace inputfeed {
namespace {

std::wstring nameOf(HANDLE object) {
    wchar_t name[256] = {};
    if (!GetUserObjectInformationW(object, UOI_NAME, name, sizeof name, nullptr)) return {};
    return name;
}

std::string narrow(const std::wstring& text) {
    std::string result(text.size() * 3, '\0');
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(),
                            static_cast<int>(result.size()), nullptr, nullptr);
    result.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return result;
}

}  // namespace

CheckReport checkPlatform() {
    CheckReport report{"Windows SendInput (the one backend on Windows)", {}};
    const HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) {
        const DWORD error = GetLastError();
        report.problem =
            error == ERROR_INVALID_FUNCTION
                ? "not on the interactive window station (a service's session has no input "
                  "desktop)"
            : error == ERROR_ACCESS_DENIED
                ? "the input desktop is closed to this program (the workstation is locked, or a "
                  "secure desktop such as a UAC prompt is showing)"
                : "cannot open the input desktop (error " + std::to_string(error) + ')';
        return report;
    }
    const std::wstring inputName = nameOf(input);
    const std::wstring ownName = nameOf(GetThreadDesktop(GetCurrentThreadId()));
    CloseDesktop(input);
    if (inputName != ownName) {
        report.problem = "the input desktop is \"" + narrow(inputName) + "\", this program's \"" +
                         narrow(ownName) + '"';
    }
    return report;
}

}  // namespace inputfeed
