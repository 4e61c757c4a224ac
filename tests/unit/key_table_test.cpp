#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "events/key_event.h"

namespace inputfeed {
namespace {

TEST(KeyTable, HasSixtyFourDistinctNamesAndCodes) {
    std::set<std::string_view> names;
    std::set<VirtualKey> codes;
    for (const auto& key : macKeyCodes) {
        names.insert(key.name);
        codes.insert(key.virtualKey);
    }
    EXPECT_EQ(names.size(), 64u);
    EXPECT_EQ(codes.size(), 64u);
}

// The surprising pairings: names whose platform key is not what the name suggests
// or whose numbers break the order of the names.
TEST(KeyTable, LooksUpTheSurprisingPairs) {
    const struct {
        std::string_view name;
        VirtualKey key;
    } cases[] = {
        {"KeyA", 0},       {"Enter", 36},     {"Backspace", 51},    {"Delete", 117},
        {"MetaLeft", 55},  {"AltLeft", 58},   {"AltRight", 61},     {"ControlLeft", 59},
        {"ControlRight", 62}, {"ShiftLeft", 56}, {"ShiftRight", 60}, {"Digit5", 23},
        {"Digit6", 22},    {"Digit7", 26},    {"Digit9", 25},       {"ArrowLeft", 123},
        {"ArrowUp", 126},  {"BracketRight", 30}, {"Backquote", 50},  {"Escape", 53},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lookupKey(c.name), c.key) << c.name;
    }
}

TEST(KeyTable, RefusesNamesNotInTheTable) {
    for (std::string_view name : std::initializer_list<std::string_view>{"keyA", "KeyA ", " KeyA", "KEYA", "", "MetaRight", "CapsLock",
                                  "F1", "Home", "Numpad1", "Key", "KeyAA",
                                  std::string_view("KeyA\0", 5)}) {
        EXPECT_FALSE(lookupKey(name).has_value()) << name;
    }
}

// Of the platform keys 0..62 only four are unnamed; above that only 117 and 123..126.
TEST(KeyTable, CoversExactlyTheExpectedPlatformKeys) {
    std::set<VirtualKey> codes;
    for (const auto& key : macKeyCodes) codes.insert(key.virtualKey);
    for (VirtualKey k = 0; k <= 130; ++k) {
        const bool named = k <= 62 ? !(k == 10 || k == 52 || k == 54 || k == 57)
                                   : (k == 117 || (k >= 123 && k <= 126));
        EXPECT_EQ(codes.count(k) == 1, named) << k;
    }
}

}  // namespace
}  // namespace inputfeed
