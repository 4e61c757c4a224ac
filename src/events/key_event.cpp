#include "events/key_event.h"

#include <algorithm>

namespace inputfeed {

namespace {

// The table sorted by name once at compile time, so a lookup is a binary search.
constexpr auto sortedKeys = [] {
    auto keys = macKeyCodes;
    std::sort(keys.begin(), keys.end(),
              [](const KeyName& a, const KeyName& b) { return a.name < b.name; });
    return keys;
}();

constexpr bool namesAreDistinct() {
    for (std::size_t i = 1; i < sortedKeys.size(); ++i) {
        if (sortedKeys[i - 1].name == sortedKeys[i].name) return false;
    }
    return true;
}
static_assert(namesAreDistinct(), "key names must be distinct");

// Backends index their own codes by virtual key, so each must be below the bound
// and belong to one key only.
constexpr bool virtualKeysAreDistinct() {
    std::array<bool, kVirtualKeyLimit> seen{};
    for (const KeyName& key : macKeyCodes) {
        if (key.virtualKey >= kVirtualKeyLimit || seen[key.virtualKey]) return false;
        seen[key.virtualKey] = true;
    }
    return true;
}
static_assert(virtualKeysAreDistinct(), "virtual keys must be distinct and below the bound");

}  // namespace

std::optional<VirtualKey> lookupKey(std::string_view name) {
    const auto* it = std::lower_bound(
        sortedKeys.begin(), sortedKeys.end(), name,
        [](const KeyName& key, std::string_view wanted) { return key.name < wanted; });
    if (it == sortedKeys.end() || it->name != name) return std::nullopt;
    return it->virtualKey;
}

std::optional<Event> makeKeyEvent(const Command& command, Platform& platform) {
    const std::optional<VirtualKey> key = lookupKey(*command.code);
    if (!key) return std::nullopt;
    return platform.createKeyboardEvent(*key, command.type == "keyDown");
}

}  // namespace inputfeed
