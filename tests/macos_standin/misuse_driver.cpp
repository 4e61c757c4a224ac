// Shows that each of the stand-in's checks fires: run without arguments, it runs
// itself once per mode below, each committing one misuse (the mode "clean"
// commits none), and checks that the stand-in ended that run with status 70 and
// one line naming the misuse, before the marker the mode prints afterwards.

#include <ApplicationServices/ApplicationServices.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
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
    std::string_view message;  // what the one line on standard error must contain
    void (*commit)();
};

// Each mode does things right, left to right, up to its one misuse, which comes last.
constexpr Mode kModes[] = {
    // Not the trust options, so releasing the last dictionary is fine.
    {"clean", "",
     [] {
         ask(options()), released(posted(mouse())), released(posted(key())), released(options(0));
     }},
    {"mouse-source", "CGEventCreateMouseEvent: event source is not NULL",
     [] { CGEventCreateMouseEvent(fakeSource, kCGEventMouseMoved, {}, kCGMouseButtonLeft); }},
    {"key-source", "CGEventCreateKeyboardEvent: event source is not NULL",
     [] { CGEventCreateKeyboardEvent(fakeSource, 0, true); }},
    {"tap", "CGEventPost: tap location is not kCGHIDEventTap",
     [] { CGEventPost(static_cast<CGEventTapLocation>(1), mouse()); }},
    {"post-foreign", "CGEventPost: event was not created by the stand-in",
     [] { posted(reinterpret_cast<CGEventRef>(&notAnObject)); }},
    {"post-released", "CGEventPost: event already released",
     [] { posted(released(posted(mouse()))); }},
    {"post-stale", "CGEventPost: event already released",
     [] { posted(afterNewerEvent(released(posted(mouse())))); }},
    {"post-twice", "CGEventPost: event already posted", [] { posted(posted(key())); }},
    {"release-twice", "CFRelease: event already released",
     [] { released(released(posted(key()))); }},
    {"release-foreign", "CFRelease: object was not created by the stand-in",
     [] { CFRelease(&notAnObject); }},
    {"release-null", "CFRelease: NULL", [] { CFRelease(nullptr); }},
    {"release-dictionary-twice", "CFRelease: dictionary already released",
     [] { released(released(options(0))); }},
    {"create-while-unreleased", "CGEventCreateKeyboardEvent: an earlier event is still unreleased",
     [] { posted(mouse()), key(); }},
    // As returning from main does, but before the marker.
    {"unreleased-at-exit", "at exit: an event is still unreleased",
     [] { posted(mouse()), std::exit(0); }},
    {"options-null", "kCFBooleanTrue}: NULL", [] { ask(nullptr); }},
    {"options-foreign", "kCFBooleanTrue}: not a dictionary created by CFDictionaryCreate",
     [] { ask(reinterpret_cast<CFDictionaryRef>(kCFBooleanTrue)); }},
    {"options-released", "kCFBooleanTrue}: already released", [] { ask(released(options())); }},
    {"options-two-entries", "kCFBooleanTrue}: not exactly one entry", [] { ask(options(2)); }},
    {"options-key", "kCFBooleanTrue}: key is not kAXTrustedCheckOptionPrompt",
     [] { ask(options(1, kCFBooleanTrue)); }},
    {"options-value", "kCFBooleanTrue}: value is not kCFBooleanTrue",
     [] { ask(options(1, kAXTrustedCheckOptionPrompt, kAXTrustedCheckOptionPrompt)); }},
    {"options-callbacks", "kCFBooleanTrue}: callbacks are not the CFType ones",
     [] { ask(options(1, kAXTrustedCheckOptionPrompt, kCFBooleanTrue, nullptr)); }},
    {"trust-twice", "AXIsProcessTrustedWithOptions: second trust request",
     [] { ask(options()), ask(options()); }},
    {"trust-after-event", "AXIsProcessTrustedWithOptions: trust request after the first event",
     [] { released(posted(key())), ask(options()); }},
    {"release-trust-options", "CFRelease: trust options released before exit",
     [] { released(ask(options())); }},
};

constexpr std::string_view kMarker = "CONTINUED\n";
// What "clean" prints: the trust request and the two events, as the dry run would.
constexpr std::string_view kCleanOutput =
    "{\"event\":\"trust\",\"prompt\":true}\n"
    "{\"event\":\"mouse\",\"type\":1,\"x\":1,\"y\":2,\"button\":0}\n"
    "{\"event\":\"key\",\"keyCode\":0,\"down\":true}\n";

// Runs this program on one mode; returns its exit status and all it wrote to
// standard output and standard error, in order.
int runMode(const char* self, const Mode& mode, std::string& output) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        ::execl(self, self, std::string(mode.name).c_str(), nullptr);
        ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) {
        for (const Mode& mode : kModes) {
            if (mode.name != argv[1]) continue;
            mode.commit();
            return ::write(STDOUT_FILENO, kMarker.data(), kMarker.size()) < 0;
        }
        return 2;
    }
    int failures = 0;
    for (const Mode& mode : kModes) {
        std::string output;
        const int status = runMode(argv[0], mode, output);
        // A misuse ends the run at once: its line comes last, after any events.
        const std::size_t at = output.find("macos-standin: misuse: ");
        const bool right =
            mode.message.empty()
                ? status == 0 && output == std::string(kCleanOutput) + std::string(kMarker)
                : status == 70 && at != std::string::npos &&
                      output.find(mode.message, at) != std::string::npos &&
                      output.find('\n', at) == output.size() - 1;
        if (!right) {
            std::printf("FAIL %s: exit status %d, output:\n%s\n", mode.name.data(), status,
                        output.c_str());
            ++failures;
        }
    }
    std::printf("%zu modes, %d failed\n", std::size(kModes), failures);
    return failures == 0 ? 0 : 1;
}
