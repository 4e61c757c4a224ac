// The stand-in for the macOS services the backend uses. It behaves like the
// platform where the agent relies on it: creation hands out an event, posting
// delivers it (here: one line on standard output, in the dry run's format),
// releasing ends it. Every misuse the platform would punish, or silently
// tolerate, ends the process at once with one line on standard error and exit
// status 70.

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "ApplicationServices/ApplicationServices.h"
#include "platform/trace_format.h"

// The objects behind the platform's opaque types. The constants are compared by
// identity only; a dictionary keeps just what the trust request is checked for.
struct __CFString {
    const char* text;
};
struct __CFBoolean {
    bool value;
};
struct __CFDictionary {
    bool released;
    bool trustOptions;  // passed to AXIsProcessTrustedWithOptions
    CFIndex count;
    const void* key;  // the first entry, enough to check a one-entry dictionary
    const void* value;
    const CFDictionaryKeyCallBacks* keyCallBacks;
    const CFDictionaryValueCallBacks* valueCallBacks;
};

namespace {

constexpr int kMisuseStatus = 70;

const __CFString promptKey{"AXTrustedCheckOptionPrompt"};
const __CFBoolean trueValue{true};

// Dictionaries come from a small fixed pool and are never reused, so a stale
// handle is always recognised. The backend needs one.
constexpr std::size_t kMaxDictionaries = 8;
__CFDictionary dictionaries[kMaxDictionaries];
std::size_t dictionaryCount = 0;

// Event handles are not addresses but serial numbers tagged with a set low bit
// (which no real object's address has), and the one live event's data is kept
// here. The stand-in never dereferences a handle, so a stale one can never be
// mistaken for a newer event that happens to reuse its memory.
struct LiveEvent {
    std::uint64_t serial = 0;  // 0: no event is live
    bool keyboard = false;
    CGEventType type{};
    CGPoint position{};
    CGMouseButton button{};
    CGKeyCode virtualKey = 0;
    bool keyDown = false;
    bool posted = false;
};
LiveEvent live;
std::uint64_t eventsCreated = 0;
std::uint64_t creationCalls = 0;  // including those that returned NULL
int trustRequests = 0;

CGEventRef handleFor(std::uint64_t serial) {
    return reinterpret_cast<CGEventRef>(static_cast<std::uintptr_t>(serial << 1 | 1));
}

// 0 when `p` is no handle the stand-in ever gave out.
std::uint64_t serialOf(const void* p) {
    const auto bits = reinterpret_cast<std::uintptr_t>(p);
    if ((bits & 1) == 0) return 0;
    const std::uint64_t serial = bits >> 1;
    return serial <= eventsCreated ? serial : 0;
}

// Returns false when the output is closed, full or has no reader any more.
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd, POLLOUT, 0};  // inherited in non-blocking mode: wait
            ::poll(&ready, 1, -1);
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Ends the process at once: one line on standard error naming the misuse, and
// no exit handlers, so nothing further runs.
[[noreturn]] void misuse(std::string_view function, std::string_view what,
                         std::string_view detail = {}) {
    char line[256];
    std::size_t n = 0;
    for (std::string_view part : {std::string_view("macos-standin: misuse: "), function,
                                  std::string_view(": "), what, detail}) {
        if (part.empty()) continue;  // its data may be null, which memcpy must not get
        const std::size_t take = std::min(part.size(), sizeof line - 1 - n);
        std::memcpy(line + n, part.data(), take);
        n += take;
    }
    line[n++] = '\n';
    writeAll(STDERR_FILENO, line, n);
    ::_exit(kMisuseStatus);
}

// Each line goes out at once, so everything posted is visible before the agent
// blocks on its input. As in the dry run, once output has failed the lines are
// dropped and the agent reads on.
void emit(const char* line, std::size_t size) {
    static bool broken = false;
    if (!broken) broken = !writeAll(STDOUT_FILENO, line, size);
}

// INPUTFEED_STANDIN_NULL_EVENTS=N makes every Nth creation call return NULL
// (1: every call), as the platform does when it cannot create an event.
std::uint64_t nullEventPeriod() {
    static const std::uint64_t period = [] {
        const char* v = std::getenv("INPUTFEED_STANDIN_NULL_EVENTS");
        return v != nullptr ? std::strtoull(v, nullptr, 10) : 0;
    }();
    return period;
}

// Common to both creation functions. Returns false when creation should fail.
bool beginCreation(CGEventSourceRef source, std::string_view function) {
    if (source != nullptr) misuse(function, "event source is not NULL");
    if (live.serial != 0) misuse(function, "an earlier event is still unreleased");
    ++creationCalls;
    return nullEventPeriod() == 0 || creationCalls % nullEventPeriod() != 0;
}

CGEventRef finishCreation() {
    live.serial = ++eventsCreated;
    live.posted = false;
    return handleFor(live.serial);
}

__CFDictionary* findDictionary(const void* p) {
    for (std::size_t i = 0; i < dictionaryCount; ++i)
        if (p == &dictionaries[i]) return &dictionaries[i];
    return nullptr;
}

// Set up before main runs and checked after it has returned.
struct ProcessGuard {
    // As in the dry run, a reader that goes away must not kill the program.
    ProcessGuard() { std::signal(SIGPIPE, SIG_IGN); }
    ~ProcessGuard() {
        if (live.serial != 0) misuse("at exit", "an event is still unreleased");
    }
} processGuard;

}  // namespace

extern "C" {

const CFStringRef kAXTrustedCheckOptionPrompt = &promptKey;
const CFBooleanRef kCFBooleanTrue = &trueValue;
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{0};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{0};

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    if (dictionaryCount == kMaxDictionaries)
        misuse("CFDictionaryCreate", "more dictionaries than the stand-in holds");
    auto& d = dictionaries[dictionaryCount++];
    d = {false, false, numValues, nullptr, nullptr, keyCallBacks, valueCallBacks};
    if (numValues > 0) {
        d.key = keys[0];
        d.value = values[0];
    }
    return &d;
}

void CFRelease(CFTypeRef cf) {
    if (cf == nullptr) misuse("CFRelease", "NULL (crashes on macOS)");
    if (const std::uint64_t serial = serialOf(cf)) {
        if (serial != live.serial) misuse("CFRelease", "event already released");
        live.serial = 0;
        return;
    }
    __CFDictionary* d = findDictionary(cf);
    if (d == nullptr) misuse("CFRelease", "object was not created by the stand-in");
    if (d->released) misuse("CFRelease", "dictionary already released");
    if (d->trustOptions) misuse("CFRelease", "trust options released before exit");
    d->released = true;
}

Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options) {
    constexpr std::string_view function = "AXIsProcessTrustedWithOptions";
    if (trustRequests++ > 0) misuse(function, "second trust request");
    if (creationCalls > 0) misuse(function, "trust request after the first event");
    __CFDictionary* d = findDictionary(options);
    const char* wrong = nullptr;
    if (options == nullptr)
        wrong = "NULL";
    else if (d == nullptr)
        wrong = "not a dictionary created by CFDictionaryCreate";
    else if (d->released)
        wrong = "already released";
    else if (d->count != 1)
        wrong = "not exactly one entry";
    else if (d->key != kAXTrustedCheckOptionPrompt)
        wrong = "key is not kAXTrustedCheckOptionPrompt";
    else if (d->value != kCFBooleanTrue)
        wrong = "value is not kCFBooleanTrue";
    else if (d->keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
             d->valueCallBacks != &kCFTypeDictionaryValueCallBacks)
        wrong = "callbacks are not the CFType ones";
    if (wrong)
        misuse(function,
               "options are not exactly {kAXTrustedCheckOptionPrompt: kCFBooleanTrue}: ", wrong);
    d->trustOptions = true;
    char line[inputfeed::kMaxTraceLine];
    emit(line, inputfeed::formatTrustLine(line));
    return false;  // not trusted: the agent must carry on regardless
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
    if (!beginCreation(source, "CGEventCreateMouseEvent")) return nullptr;
    live.keyboard = false;
    live.type = mouseType;
    live.position = mouseCursorPosition;
    live.button = mouseButton;
    return finishCreation();
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    if (!beginCreation(source, "CGEventCreateKeyboardEvent")) return nullptr;
    live.keyboard = true;
    live.virtualKey = virtualKey;
    live.keyDown = keyDown;
    return finishCreation();
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    constexpr std::string_view function = "CGEventPost";
    if (tap != kCGHIDEventTap) misuse(function, "tap location is not kCGHIDEventTap");
    const std::uint64_t serial = serialOf(event);
    if (serial == 0) misuse(function, "event was not created by the stand-in");
    if (serial != live.serial) misuse(function, "event already released");
    if (live.posted) misuse(function, "event already posted");
    live.posted = true;
    char line[inputfeed::kMaxTraceLine];
    const std::size_t n = live.keyboard
                              ? inputfeed::formatKeyLine(line, live.virtualKey, live.keyDown)
                              : inputfeed::formatMouseLine(line, live.type, live.position.x,
                                                           live.position.y, live.button);
    emit(line, n);
}

}  // extern "C"
