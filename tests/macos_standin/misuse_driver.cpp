// Commits one misuse of the stand-in, named by the argument, so that each of its
// checks is seen to fire. After the misuse it prints a marker: the stand-in must
// have ended the process before that. The mode "clean" commits none.

#include <ApplicationServices/ApplicationServices.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

int notAnEvent = 0;

CFDictionaryRef dictionary(
    CFIndex count, const void* key, const void* value,
    const CFDictionaryKeyCallBacks* keyCallBacks = &kCFTypeDictionaryKeyCallBacks) {
    const void* keys[] = {key, kCFBooleanTrue};
    const void* values[] = {value, kCFBooleanTrue};
    return CFDictionaryCreate(nullptr, keys, values, count, keyCallBacks,
                              &kCFTypeDictionaryValueCallBacks);
}

CFDictionaryRef trustOptions() {
    return dictionary(1, kAXTrustedCheckOptionPrompt, kCFBooleanTrue);
}
void trust() {
    AXIsProcessTrustedWithOptions(trustOptions());
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

struct Mode {
    std::string_view name;
    void (*commit)();
};

// Each mode does things right up to its one misuse, which comes last.
constexpr Mode kModes[] = {
    {"clean",
     [] {
         trust();
         CFRelease(posted(mouse()));
         CFRelease(posted(key()));
         CFRelease(dictionary(0, nullptr, nullptr));  // not the trust options: fine
     }},
    {"mouse-source",
     [] {
         CGEventCreateMouseEvent(reinterpret_cast<CGEventSourceRef>(&notAnEvent),
                                 kCGEventMouseMoved, CGPointMake(0, 0), kCGMouseButtonLeft);
     }},
    {"key-source",
     [] { CGEventCreateKeyboardEvent(reinterpret_cast<CGEventSourceRef>(&notAnEvent), 0, true); }},
    {"tap", [] { CGEventPost(static_cast<CGEventTapLocation>(1), mouse()); }},
    {"post-foreign",
     [] { CGEventPost(kCGHIDEventTap, reinterpret_cast<CGEventRef>(&notAnEvent)); }},
    {"post-released",
     [] {
         CGEventRef e = posted(mouse());
         CFRelease(e);
         CGEventPost(kCGHIDEventTap, e);
     }},
    {"post-stale",  // a released handle while a newer event is live
     [] {
         CGEventRef e = posted(mouse());
         CFRelease(e);
         key();
         CGEventPost(kCGHIDEventTap, e);
     }},
    {"post-twice", [] { posted(posted(key())); }},
    {"release-twice",
     [] {
         CGEventRef e = posted(key());
         CFRelease(e);
         CFRelease(e);
     }},
    {"release-foreign", [] { CFRelease(&notAnEvent); }},
    {"release-null", [] { CFRelease(nullptr); }},
    {"release-dictionary-twice",
     [] {
         CFDictionaryRef d = dictionary(0, nullptr, nullptr);
         CFRelease(d);
         CFRelease(d);
     }},
    {"create-while-unreleased",
     [] {
         posted(mouse());
         key();
     }},
    {"unreleased-at-exit",
     [] {
         posted(mouse());
         std::exit(0);  // as returning from main does, but before the marker
     }},
    {"options-null", [] { AXIsProcessTrustedWithOptions(nullptr); }},
    {"options-foreign",
     [] { AXIsProcessTrustedWithOptions(reinterpret_cast<CFDictionaryRef>(kCFBooleanTrue)); }},
    {"options-released",
     [] {
         CFDictionaryRef d = trustOptions();
         CFRelease(d);
         AXIsProcessTrustedWithOptions(d);
     }},
    {"options-two-entries",
     [] {
         AXIsProcessTrustedWithOptions(dictionary(2, kAXTrustedCheckOptionPrompt, kCFBooleanTrue));
     }},
    {"options-key",
     [] { AXIsProcessTrustedWithOptions(dictionary(1, kCFBooleanTrue, kCFBooleanTrue)); }},
    {"options-value",
     [] {
         AXIsProcessTrustedWithOptions(
             dictionary(1, kAXTrustedCheckOptionPrompt, kAXTrustedCheckOptionPrompt));
     }},
    {"options-callbacks",
     [] {
         AXIsProcessTrustedWithOptions(
             dictionary(1, kAXTrustedCheckOptionPrompt, kCFBooleanTrue, nullptr));
     }},
    {"trust-twice",
     [] {
         trust();
         trust();
     }},
    {"trust-after-event",
     [] {
         CFRelease(posted(key()));
         trust();
     }},
    {"release-trust-options",
     [] {
         CFDictionaryRef options = trustOptions();
         AXIsProcessTrustedWithOptions(options);
         CFRelease(options);
     }},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: macos-standin-misuse MODE\n", stderr);
        return 2;
    }
    for (const Mode& mode : kModes) {
        if (mode.name != argv[1]) continue;
        mode.commit();
        constexpr std::string_view marker = "CONTINUED\n";
        return ::write(STDOUT_FILENO, marker.data(), marker.size()) < 0;
    }
    std::fprintf(stderr, "unknown mode: %s\n", argv[1]);
    return 2;
}
