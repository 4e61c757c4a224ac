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

// Row index + 1 by virtual key; 0 where no key has the number.
constexpr auto rowByVirtualKey = [] {
    std::array<unsigned char, kVirtualKeyLimit> rows{};
    for (std::size_t i = 0; i < macKeyCodes.size(); ++i) {
        const VirtualKey key = macKeyCodes[i].virtualKey;
        if (key >= kVirtualKeyLimit || rows[key] != 0) throw "virtual keys must be distinct";
        rows[key] = static_cast<unsigned char>(i + 1);
    }
    return rows;
}();

}  // namespace

const KeyName* keyOf(VirtualKey virtualKey) {
    if (virtualKey >= kVirtualKeyLimit || rowByVirtualKey[virtualKey] == 0) return nullptr;
    return &macKeyCodes[rowByVirtualKey[virtualKey] - 1u];
}

std::optional<VirtualKey> lookupKey(std::string_view name) {
    const auto* it = std::lower_bound(
        sortedKeys.begin(), sortedKeys.end(), name,
        [](const KeyName& key, std::string_view wanted) { return key.name < wanted; });
    if (it == sortedKeys.end() || it->name != name) return std::nullopt;
    return it->virtualKey;
}

EventRef makeKeyEvent(const Command& command, Platform& platform) {
    const std::optional<VirtualKey> key = lookupKey(*command.code);
    if (!key) return nullptr;
    return platform.createKeyboardEvent(*key, command.type == "keyDown");
}

}  // namespace inputfeed
