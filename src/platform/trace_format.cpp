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

std::size_t formatMouseLine(char* out, EventType type, double x, double y, MouseButton button) {
    char* p = put(out, "{\"event\":\"mouse\",\"type\":");
    p = putNumber(p, type);
    p = put(p, ",\"x\":");
    p = putNumber(p, x);
    p = put(p, ",\"y\":");
    p = putNumber(p, y);
    p = put(p, ",\"button\":");
    p = putNumber(p, button);
    p = put(p, "}\n");
    return static_cast<std::size_t>(p - out);
}

std::size_t formatKeyLine(char* out, VirtualKey virtualKey, bool keyDown) {
    char* p = put(out, "{\"event\":\"key\",\"keyCode\":");
    p = putNumber(p, virtualKey);
    p = put(p, keyDown ? ",\"down\":true}\n" : ",\"down\":false}\n");
    return static_cast<std::size_t>(p - out);
}

}  // namespace inputfeed
