#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace inputfeed {

// The decoded form of one input line. Every optional field has an absent state
// distinct from all of its values (a button of 0 is present and means "main").
struct Command {
    std::string type;
    std::optional<double> x;
    std::optional<double> y;
    std::optional<std::int64_t> button;
    std::optional<std::int64_t> keyCode;  // checked when decoding, read by nobody
    std::optional<std::string> code;

    friend bool operator==(const Command&, const Command&) = default;
};

// The record's key set. Each member's JSON name equals the field name; the
// decoder recognises the keys by these names, exactly and case-sensitively.
enum class CodingKeys : std::uint8_t { type, x, y, button, keyCode, code };

inline constexpr std::array<CodingKeys, 6> allCodingKeys{
    CodingKeys::type,   CodingKeys::x,       CodingKeys::y,
    CodingKeys::button, CodingKeys::keyCode, CodingKeys::code,
};

constexpr std::string_view jsonName(CodingKeys key) {
    switch (key) {
        case CodingKeys::type: return "type";
        case CodingKeys::x: return "x";
        case CodingKeys::y: return "y";
        case CodingKeys::button: return "button";
        case CodingKeys::keyCode: return "keyCode";
        case CodingKeys::code: return "code";
    }
    return {};
}

}  // namespace inputfeed
