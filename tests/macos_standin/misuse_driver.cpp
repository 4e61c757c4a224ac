// Shows that each of the stand-in's checks fires: run without arguments, it runs
// itself once per mode below, each committing one misuse (the first mode commits
// none), and checks that the stand-in ended that run with status 70 and one line
// naming the misuse, before the marker the mode prints afterwards.

#include <ApplicationServices/ApplicationServices.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int notAnObject = 0;
const auto foreignSource = reinterpret_cast<CGEventSourceRef>(&notAnObject);
const auto foreignEvent = reinterpret_cast<CGEventRef>(&notAnObject);
const auto foreignOptions = reinterpret_cast<CFDictionaryRef>(kCFBooleanTrue);
const void* const prompt = kAXTrustedCheckOptionPrompt;

CFDictionaryRef options(
    CFIndex count = 1, const void* key = prompt, const void* value = kCFBooleanTrue,
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
CGEventRef mouse(CGEventSourceRef source = nullptr) {
    return CGEventCreateMouseEvent(source, CGEventType{1}, CGPointMake(1, 2), CGMouseButton{0});
}
CGEventRef key(CGEventSourceRef source = nullptr) {
    return CGEventCreateKeyboardEvent(source, 0, true);
}
CGEventRef posted(CGEventRef event, CGEventTapLocation tap = kCGHIDEventTap) {
    CGEventPost(tap, event);
    return event;
}
template <class T>
T released(T object) {
    CFRelease(object);
    return object;
}
// An event released, once a newer one is live.
CGEventRef staleEvent() {
    CGEventRef event = released(posted(mouse()));
    key();
    return event;
}

// Each mode does things right, left to right, up to its one misuse, which comes
// last; `message` is what the one line on standard error must contain.
constexpr struct {
    const char* message;
    void (*commit)();
} kModes[] = {
    // Not the trust options, so releasing the last dictionary is fine.
    {"",
     [] {
         ask(options()), released(posted(mouse())), released(posted(key())), released(options(0));
     }},
    {"CGEventCreateMouseEvent: event source is not NULL", [] { mouse(foreignSource); }},
    {"CGEventCreateKeyboardEvent: event source is not NULL", [] { key(foreignSource); }},
    {"tap location is not kCGHIDEventTap", [] { posted(mouse(), CGEventTapLocation{1}); }},
    {"CGEventPost: event was not created by the stand-in", [] { posted(foreignEvent); }},
    {"CGEventPost: event already released", [] { posted(released(posted(mouse()))); }},
    {"CGEventPost: event already released", [] { posted(staleEvent()); }},
    {"CGEventPost: event already posted", [] { posted(posted(key())); }},
    {"CFRelease: event already released", [] { released(released(posted(key()))); }},
    {"CFRelease: object was not created by the stand-in", [] { released(foreignEvent); }},
    {"CFRelease: NULL", [] { CFRelease(nullptr); }},
    {"CFRelease: dictionary already released", [] { released(released(options(0))); }},
    {"an earlier event is still unreleased", [] { posted(mouse()), key(); }},
    // As returning from main does, but before the marker.
    {"at exit: an event is still unreleased", [] { posted(mouse()), std::exit(0); }},
    {"kCFBooleanTrue}: NULL", [] { ask(nullptr); }},
    {"kCFBooleanTrue}: not from CFDictionaryCreate", [] { ask(foreignOptions); }},
    {"kCFBooleanTrue}: already released", [] { ask(released(options())); }},
    {"kCFBooleanTrue}: not exactly one entry", [] { ask(options(2)); }},
    {"kCFBooleanTrue}: wrong key", [] { ask(options(1, kCFBooleanTrue)); }},
    {"kCFBooleanTrue}: wrong value", [] { ask(options(1, prompt, prompt)); }},
    {"kCFBooleanTrue}: not the CFType callbacks",
     [] { ask(options(1, prompt, kCFBooleanTrue, nullptr)); }},
    {"second trust request", [] { ask(options()), ask(options()); }},
    {"trust request after the first event", [] { released(posted(key())), ask(options()); }},
    {"CFRelease: trust options released before exit", [] { released(ask(options())); }},
};

constexpr char kMarker[] = "CONTINUED\n";
// What the first mode prints: the trust request and the two events, as the dry
// run would, then the marker.
constexpr char kCleanOutput[] =
    "{\"event\":\"trust\",\"prompt\":true}\n"
    "{\"event\":\"mouse\",\"type\":1,\"x\":1,\"y\":2,\"button\":0}\n"
    "{\"event\":\"key\",\"keyCode\":0,\"down\":true}\n"
    "CONTINUED\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) {  // one mode; returning from main runs the stand-in's check at exit
        kModes[std::atoi(argv[1])].commit();
        return ::write(STDOUT_FILENO, kMarker, sizeof kMarker - 1) < 0;
    }
    int failures = 0;
    for (std::size_t i = 0; i < std::size(kModes); ++i) {
        // Both outputs into one pipe, so that their order shows.
        const std::string command = "'" + std::string(argv[0]) + "' " + std::to_string(i) + " 2>&1";
        FILE* run = ::popen(command.c_str(), "r");
        std::string output;
        for (int c; (c = std::fgetc(run)) != EOF;) output += static_cast<char>(c);
        const int waited = ::pclose(run);
        const int status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
        // A misuse ends the run at once: its line comes last, after any events.
        const std::size_t at = output.find("macos-standin: misuse: ");
        const bool right = *kModes[i].message == '\0'
                               ? status == 0 && output == kCleanOutput
                               : status == 70 && at != std::string::npos &&
                                     output.find(kModes[i].message, at) != std::string::npos &&
                                     output.find('\n', at) == output.size() - 1;
        if (!right) {
            std::printf("FAIL mode %zu (%s): exit status %d, output:\n%s\n", i, kModes[i].message,
                        status, output.c_str());
            ++failures;
        }
    }
    std::printf("%zu modes, %d failed\n", std::size(kModes), failures);
    return failures != 0;
}
