// Commits one misuse of the stand-in, named by the argument, so that each of its
// checks is seen to fire. After the misuse it prints a marker: the stand-in must
// have ended the process before that. The mode "clean" commits none.

#include <ApplicationServices/ApplicationServices.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

int notAnObject = 0;
const auto fakeSource = reinterpret_cast<CGEventSourceRef>(&notAnObject);

CFDictionaryRef options(
    CFIndex count = 1, const void* key = kAXTrustedCheckOptionPrompt,
    const void* value = kCFBooleanTrue,
    const CFDictionaryKeyCallBacks* keyCallBacks = &kCFTypeDictionaryKeyCallBacks) {
    const void* keys[] = {key, kCFBooleanTrue};
    const void* values[] = {value, kCFBooleanTrue};
    return CFDictionaryCreate(nullptr, keys, values, count, keyCallBacks,
                              &kCFTypeDictionaryValueCallBacks);
}
CFDictionaryRef ask(CFDictionaryRef options) {
    AXIsProcessTrustedWithOptions(options);
    return options;
}
CGEventRef mouse() {
    return CGEventCreateMouseEvent(nullptr, kCGEventLeftMouseDown, CGPointMake(1, 2),
                                   kCGMouseButtonLeft);
}
CGEventRef key() {
    return CGEventCreateKeyboardEvent(nullptr, 0, true);
}
CGEventRef posted(CGEventRef event) {
    CGEventPost(kCGHIDEventTap, event);
    return event;
}
template <class T>
T released(T object) {
    CFRelease(object);
    return object;
}
// Returns `event` once a newer event is live.
CGEventRef afterNewerEvent(CGEventRef event) {
    key();
    return event;
}

struct Mode {
    std::string_view name;
    void (*commit)();
};

// Each mode does things right, left to right, up to its one misuse, which comes last.
constexpr Mode kModes[] = {
    // Not the trust options, so releasing the last dictionary is fine.
    {"clean",
     [] {
         ask(options()), released(posted(mouse())), released(posted(key())), released(options(0));
     }},
    {"mouse-source",
     [] { CGEventCreateMouseEvent(fakeSource, kCGEventMouseMoved, {}, kCGMouseButtonLeft); }},
    {"key-source", [] { CGEventCreateKeyboardEvent(fakeSource, 0, true); }},
    {"tap", [] { CGEventPost(static_cast<CGEventTapLocation>(1), mouse()); }},
    {"post-foreign", [] { posted(reinterpret_cast<CGEventRef>(&notAnObject)); }},
    {"post-released", [] { posted(released(posted(mouse()))); }},
    {"post-stale", [] { posted(afterNewerEvent(released(posted(mouse())))); }},
    {"post-twice", [] { posted(posted(key())); }},
    {"release-twice", [] { released(released(posted(key()))); }},
    {"release-foreign", [] { CFRelease(&notAnObject); }},
    {"release-null", [] { CFRelease(nullptr); }},
    {"release-dictionary-twice", [] { released(released(options(0))); }},
    {"create-while-unreleased", [] { posted(mouse()), key(); }},
    // As returning from main does, but before the marker.
    {"unreleased-at-exit", [] { posted(mouse()), std::exit(0); }},
    {"options-null", [] { ask(nullptr); }},
    {"options-foreign", [] { ask(reinterpret_cast<CFDictionaryRef>(kCFBooleanTrue)); }},
    {"options-released", [] { ask(released(options())); }},
    {"options-two-entries", [] { ask(options(2)); }},
    {"options-key", [] { ask(options(1, kCFBooleanTrue)); }},
    {"options-value",
     [] { ask(options(1, kAXTrustedCheckOptionPrompt, kAXTrustedCheckOptionPrompt)); }},
    {"options-callbacks",
     [] { ask(options(1, kAXTrustedCheckOptionPrompt, kCFBooleanTrue, nullptr)); }},
    {"trust-twice", [] { ask(options()), ask(options()); }},
    {"trust-after-event", [] { released(posted(key())), ask(options()); }},
    {"release-trust-options", [] { released(ask(options())); }},
};

}  // namespace

int main(int argc, char** argv) {
    for (const Mode& mode : kModes) {
        if (argc != 2 || mode.name != argv[1]) continue;
        mode.commit();
        constexpr std::string_view marker = "CONTINUED\n";
        return ::write(STDOUT_FILENO, marker.data(), marker.size()) < 0;
    }
    std::fputs("usage: macos-standin-misuse MODE (a mode the driver knows)\n", stderr);
    return 2;
}
