// The stand-in for the macOS services the backend uses. It behaves like the
// platform where the agent relies on it: creation hands out an event, posting
// delivers it (here: one line on standard output, in the dry run's format),
// releasing ends it. Every misuse the platform would punish, or silently
// tolerate, ends the process at once with one line on standard error and exit
// status 70.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "ApplicationServices/ApplicationServices.h"
#include "platform/streams.h"
#include "platform/trace_format.h"

// The objects behind the platform's opaque types. The constants are compared by
// identity only; a dictionary keeps just what the trust request is checked for.
struct __CFString {};
struct __CFBoolean {};
struct __CFDictionary {
    const char* wrong;  // how it differs from the trust options; nullptr if it does not
    bool released;
    bool trustOptions;  // passed to AXIsProcessTrustedWithOptions
};
struct CFDictionaryKeyCallBacks {};
struct CFDictionaryValueCallBacks {};

namespace {

const __CFString promptKey;
const __CFBoolean trueValue;

// Dictionaries come from a small fixed pool and are never reused, so a stale
// handle is always recognised. The backend needs one.
__CFDictionary dictionaries[8];
std::size_t dictionaryCount = 0;

// Event handles are not addresses but serial numbers tagged with a set low bit
// (which no real object's address has). The stand-in never dereferences a
// handle, so a stale one can never pass for a newer event that happens to reuse
// its memory. The one live event keeps the line that posting it prints.
struct LiveEvent {
    std::uint64_t serial = 0;  // 0: no event is live
    bool posted = false;
    char line[inputfeed::kMaxTraceLine];
    std::size_t size = 0;
} live;
std::uint64_t creationCalls = 0;  // including those that returned NULL: serials come from here
int trustRequests = 0;

// 0 when `p` is no handle the stand-in ever gave out.
std::uint64_t serialOf(const void* p) {
    const auto bits = reinterpret_cast<std::uintptr_t>(p);
    return (bits & 1) != 0 && bits >> 1 <= creationCalls ? bits >> 1 : 0;
}

// Ends the process at once, with no exit handlers, so nothing further runs.
[[noreturn]] void misuse(const char* function, const char* what, const char* detail = "") {
    std::fprintf(stderr, "macos-standin: misuse: %s: %s%s\n", function, what, detail);
    ::_exit(70);
}

// Common to both creation functions; false when creation is to fail.
// INPUTFEED_STANDIN_NULL_EVENTS=N makes every Nth creation call return NULL
// (1: every call), as the platform does when it cannot create an event.
bool beginCreation(CGEventSourceRef source, const char* function) {
    static const char* const every = std::getenv("INPUTFEED_STANDIN_NULL_EVENTS");
    static const unsigned long long period =
        every != nullptr ? std::strtoull(every, nullptr, 10) : 0;
    if (source != nullptr) misuse(function, "event source is not NULL");
    if (live.serial != 0) misuse(function, "an earlier event is still unreleased");
    ++creationCalls;
    return period == 0 || creationCalls % period != 0;
}

CGEventRef created(std::size_t lineSize) {
    live.serial = creationCalls;
    live.posted = false;
    live.size = lineSize;
    return reinterpret_cast<CGEventRef>(static_cast<std::uintptr_t>(live.serial << 1 | 1));
}

__CFDictionary* findDictionary(const void* p) {
    for (std::size_t i = 0; i < dictionaryCount; ++i) {
        if (p == &dictionaries[i]) return &dictionaries[i];
    }
    return nullptr;
}

// Checked once main has returned (or exit was called).
struct AtExit {
    ~AtExit() {
        if (live.serial != 0) misuse("at exit", "an event is still unreleased");
    }
} atExit;

}  // namespace

extern "C" {

const CFStringRef kAXTrustedCheckOptionPrompt = &promptKey;
const CFBooleanRef kCFBooleanTrue = &trueValue;
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};

// The dictionary's content never changes, so it is judged here, once.
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
    if (dictionaryCount == std::size(dictionaries)) misuse("CFDictionaryCreate", "pool used up");
    const char* wrong = numValues != 1                           ? "not exactly one entry"
                        : keys[0] != kAXTrustedCheckOptionPrompt ? "wrong key"
                        : values[0] != kCFBooleanTrue            ? "wrong value"
                        : keyCallBacks != &kCFTypeDictionaryKeyCallBacks ||
                                valueCallBacks != &kCFTypeDictionaryValueCallBacks
                            ? "not the CFType callbacks"
                            : nullptr;
    return &(dictionaries[dictionaryCount++] = {wrong, false, false});
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
    const char* function = "AXIsProcessTrustedWithOptions";
    if (trustRequests++ > 0) misuse(function, "second trust request");
    if (creationCalls > 0) misuse(function, "trust request after the first event");
    __CFDictionary* d = findDictionary(options);
    const char* wrong = options == nullptr ? "NULL"
                        : d == nullptr     ? "not from CFDictionaryCreate"
                        : d->released      ? "already released"
                                           : d->wrong;
    if (wrong != nullptr)
        misuse(function, "options are not {kAXTrustedCheckOptionPrompt: kCFBooleanTrue}: ", wrong);
    d->trustOptions = true;
    char line[inputfeed::kMaxTraceLine];
    inputfeed::writeOutput(line, inputfeed::formatTrustLine(line));
    return false;  // not trusted: the agent must carry on regardless
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
    if (!beginCreation(source, "CGEventCreateMouseEvent")) return nullptr;
    return created(inputfeed::formatEventLine(live.line, {.type = mouseType,
                                                          .x = mouseCursorPosition.x,
                                                          .y = mouseCursorPosition.y,
                                                          .button = mouseButton}));
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    if (!beginCreation(source, "CGEventCreateKeyboardEvent")) return nullptr;
    return created(inputfeed::formatEventLine(
        live.line,
        {.kind = inputfeed::Event::Kind::keyboard, .virtualKey = virtualKey, .keyDown = keyDown}));
}

// Posted lines go out at once, so that everything is visible before the agent
// blocks on its input; as in the dry run, once output has failed they are dropped.
void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    const char* function = "CGEventPost";
    if (tap != kCGHIDEventTap) misuse(function, "tap location is not kCGHIDEventTap");
    const std::uint64_t serial = serialOf(event);
    if (serial == 0) misuse(function, "event was not created by the stand-in");
    if (serial != live.serial) misuse(function, "event already released");
    if (live.posted) misuse(function, "event already posted");
    live.posted = true;
    inputfeed::writeOutput(live.line, live.size);
}

}  // extern "C"
