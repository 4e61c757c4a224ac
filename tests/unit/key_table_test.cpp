// The key table's shape: 64 keys on distinct platform keys, and exactly these
// platform keys. Which name gives which key is checked end to end.

#include <gtest/gtest.h>

#include <set>

#include "events/key_event.h"

namespace inputfeed {
namespace {

TEST(KeyTable, NamesExactlyTheExpectedPlatformKeys) {
    std::set<VirtualKey> keys;
    for (const auto& key : macKeyCodes) keys.insert(key.virtualKey);
    std::set<VirtualKey> expected{117, 123, 124, 125, 126};
    for (VirtualKey k = 0; k <= 62; ++k) {
        if (k != 10 && k != 52 && k != 54 && k != 57) expected.insert(k);
    }
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(macKeyCodes.size(), expected.size());
}

}  // namespace
}  // namespace inputfeed
