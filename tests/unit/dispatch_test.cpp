// The router and both handlers, driven with decoded commands: which event each
// command produces, compared whole.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "agent.h"
#include "support/recording_platform.h"

namespace inputfeed {
namespace {

struct Fields {
    std::string type;
    std::optional<double> x = {}, y = {};
    std::optional<std::int64_t> button = {}, keyCode = {};
    std::optional<std::string> code = {};
};

// Routes the command and returns the event posted for it, if any.
std::optional<Recorded> routed(const Fields& f) {
    RecordingPlatform platform;
    const EventRef event =
        dispatchCommand(Command{f.type, f.x, f.y, f.button, f.keyCode, f.code}, platform);
    if (!event) return std::nullopt;
    platform.postEvent(event);
    platform.releaseEvent(event);
    EXPECT_TRUE(platform.faults.empty());
    return platform.posted.back();
}

const auto none = std::nullopt;
Recorded keyDown(VirtualKey k) {
    return Recorded::key(k, true);
}
Recorded keyUp(VirtualKey k) {
    return Recorded::key(k, false);
}

TEST(Dispatch, RoutesPointerCommandsFirstThenKeyNames) {
    const struct {
        const char* what;
        Fields fields;
        std::optional<Recorded> event;
    } cases[] = {
        {"pointer command ignores its code",
         {"pointerDown", 1, 2, none, none, "KeyA"},
         Recorded::mouse(kCGEventLeftMouseDown, 1, 2, 0)},
        {"\"pointer\" itself is a pointer type", {"pointer", 1, 2}, Recorded::mouse(5, 1, 2, 0)},
        {"keyDown with coordinates is a key command",
         {"keyDown", 1, 2, 2, none, "KeyA"},
         keyDown(0)},
        {"missing y falls through to the key name",
         {"pointerDown", 1, none, none, none, "KeyA"},
         keyUp(0)},
        {"missing x falls through to the key name",
         {"pointerUp", none, 2, none, none, "KeyS"},
         keyUp(1)},
        {"missing y and no key name", {"pointerDown", 1, none}, none},
        {"no coordinates and no key name", {"pointerMove"}, none},
        {"empty type with a key name", {"", none, none, none, none, "KeyD"}, keyUp(2)},
        {"empty type alone", {""}, none},
        {"capital P is not the pointer prefix", {"Pointer", 1, 2}, none},
        {"capital P with a key name", {"Pointer", 1, 2, none, none, "KeyA"}, keyUp(0)},
        {"leading space", {" pointerDown", 1, 2}, none},
        {"shorter than the prefix", {"pointe", 1, 2}, none},
        {"lower-case d is still a pointer type",
         {"pointerdown", 1, 2},
         Recorded::mouse(5, 1, 2, 0)},
        {"keyDown without a key name, whatever its keyCode",
         {"keyDown", none, none, none, 0},
         none},
        {"keyCode is never read", {"keyDown", none, none, none, 36, "KeyA"}, keyDown(0)},
    };
    for (const auto& c : cases) EXPECT_EQ(routed(c.fields), c.event) << c.what;
}

TEST(Dispatch, MapsButtonsOntoPlatformButtonsAndEventTypes) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    // Values whose low bits read 1 or 2 must not pass for 1 or 2.
    constexpr std::int64_t k2To32 = std::int64_t{1} << 32;
    const struct {
        std::optional<std::int64_t> button;
        MouseButton platformButton;
        EventType press;
        EventType release;
    } rows[] = {
        {none, 0, 1, 2},       {0, 0, 1, 2},           {1, 2, 25, 26},  {2, 1, 3, 4},
        {3, 0, 1, 2},          {4, 0, 1, 2},           {7, 0, 1, 2},    {-1, 0, 1, 2},
        {-2, 0, 1, 2},         {257, 0, 1, 2},         {258, 0, 1, 2},  {k2To32 + 1, 0, 1, 2},
        {k2To32 + 2, 0, 1, 2}, {-k2To32 + 1, 0, 1, 2}, {kMax, 0, 1, 2}, {kMin, 0, 1, 2},
        {kMin + 1, 0, 1, 2},
    };
    for (const auto& row : rows) {
        const std::string label = row.button ? std::to_string(*row.button) : "absent";
        const auto event = [&](const char* type) {
            return routed({type, 10, 20, row.button, none, "KeyA"});
        };
        EXPECT_EQ(event("pointerDown"), Recorded::mouse(row.press, 10, 20, row.platformButton))
            << label;
        EXPECT_EQ(event("pointerUp"), Recorded::mouse(row.release, 10, 20, row.platformButton))
            << label;
        // Every other pointer type is a plain move that still names the button.
        for (const char* move : {"pointer", "pointerMove", "pointerdown", "pointerUP",
                                 "pointerDown ", "pointerUpX", "pointer\xCC\x81"}) {
            EXPECT_EQ(event(move), Recorded::mouse(kCGEventMouseMoved, 10, 20, row.platformButton))
                << label << " " << move;
        }
    }
}

TEST(Dispatch, PassesCoordinatesThroughUnchanged) {
    const double values[] = {-0.0,
                             0.5,
                             -3840.125,
                             1e20,
                             0.1,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::max(),
                             9007199254740993.0};
    for (const double x : values) {
        const double y = -x;
        const auto event = routed({"pointerMove", x, y});
        ASSERT_TRUE(event);
        EXPECT_EQ(*event, Recorded::mouse(kCGEventMouseMoved, x, y, 0)) << x;
        // Bit-exact, so the sign of zero counts too.
        EXPECT_EQ(std::signbit(event->x), std::signbit(x)) << x;
        EXPECT_EQ(std::signbit(event->y), std::signbit(y)) << x;
    }
}

TEST(Dispatch, PressesOnlyForExactlyKeyDownAndKnownNames) {
    const struct {
        std::string type;
        bool down;
    } types[] = {{"keyDown", true},      {"keyUp", false},    {"keydown", false},
                 {"KeyDown", false},     {"keyDown ", false}, {"", false},
                 {"pointerDown", false}, {"pointer", false},  {"keyDown\n", false}};
    for (const auto& t : types) {
        EXPECT_EQ(routed({t.type, none, none, none, none, "Delete"}), Recorded::key(117, t.down))
            << t.type;
    }
    EXPECT_EQ(routed({"keyDown", none, none, none, none, "Backspace"}), keyDown(51));
    EXPECT_EQ(routed({"keyDown", none, none, none, none, "Enter"}), keyDown(36));
    for (const char* name :
         {"keyA", "KeyA ", "MetaRight", "CapsLock", "F1", "Home", "Numpad0", "", "Key\xC3\x81"}) {
        EXPECT_EQ(routed({"keyDown", none, none, none, none, name}), none) << name;
    }
}

}  // namespace
}  // namespace inputfeed
