#include "platform/trace_format.h"

#include <charconv>
#include <cstring>
#include <string_view>

namespace inputfeed {
namespace {

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

template <typename T>
char* putNumber(char* out, T value) {
    // Shortest form that reads back as the same value; 32 bytes hold any double.
    return std::to_chars(out, out + 32, value).ptr;
}

}  // namespace

std::size_t formatTrustLine(char* out) {
    return static_cast<std::size_t>(put(out, "{\"event\":\"trust\",\"prompt\":true}\n") - out);
}

std::size_t formatEventLine(char* out, const Event& event) {
    char* p = out;
    if (event.kind == Event::Kind::keyboard) {
        p = put(p, "{\"event\":\"key\",\"keyCode\":");
        p = putNumber(p, event.virtualKey);
        p = put(p, event.keyDown ? ",\"down\":true}\n" : ",\"down\":false}\n");
    } else {
        p = put(p, "{\"event\":\"mouse\",\"type\":");
        p = putNumber(p, event.type);
        p = put(p, ",\"x\":");
        p = putNumber(p, event.x);
        p = put(p, ",\"y\":");
        p = putNumber(p, event.y);
        p = put(p, ",\"button\":");
        p = putNumber(p, event.button);
        p = put(p, "}\n");
    }
    return static_cast<std::size_t>(p - out);
}

}  // namespace inputfeed
