#pragma once

// An independent oracle for decodeCommand: nlohmann's JSON parser does the
// parsing, and the record rules are applied to its result here, written out
// afresh rather than shared with the product. The differential test and the
// decoder's fuzz target both compare the product with it.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "command/command.h"
#include "command/decoder.h"

namespace inputfeed::reference {

using Json = nlohmann::json;

// ---------------------------------------------------------------------------
// Where the product deliberately differs from nlohmann's parser. Every such
// difference is handled in this block and nowhere else:
//
//  1. Lines longer than kMaxLineBytes are refused; nlohmann has no limit.
//     (Within that length the nesting depth is not limited, as in nlohmann.)
//  2. A leading UTF-8 byte-order mark is refused; nlohmann skips it.
//  3. A NUL byte anywhere is refused (it is neither JSON whitespace nor allowed
//     unescaped in a string); nlohmann takes it for the end of the input and
//     so would accept `{"type":"a"}` followed by NUL and anything at all.
//  4. A number beyond the range of a double is valid JSON and is refused only
//     as "x" or "y"; nlohmann refuses any such number, even in an ignored
//     member. The oracle puts `true` in its place, which every record key
//     refuses and an ignored member accepts, and parses again.
//  5. "x" or "y" written as the integer -0 is the double -0.0; nlohmann keeps
//     integers as integers and so loses the sign. Its signed-integer zero can
//     only come from "-0", which is how the oracle recognises it.
//
// Where both agree by design, nothing needs handling: duplicate keys (the last
// occurrence decides, earlier values of any type are discarded), unpaired
// surrogate escapes and invalid UTF-8 (refused), JSON whitespace, and numbers
// with a fraction or exponent in "button" or "keyCode" (refused by the rules
// below, whatever their value).
// ---------------------------------------------------------------------------

// nlohmann's document builder, keeping the position of an overflowing number,
// which nlohmann reports only through its SAX interface.
struct OverflowSax : nlohmann::detail::json_sax_dom_parser<Json> {
    using json_sax_dom_parser::json_sax_dom_parser;
    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) {
        overflow = error.id == 406;
        end = position;
        number = token;
        return false;
    }
    bool overflow = false;
    std::size_t end = 0;
    std::string number;
};

// Parses `text` as one JSON text. Returns false when the product refuses it for
// a reason of syntax or number range.
inline bool parseJson(std::string text, Json& root) {
    for (;;) {
        root = Json();
        OverflowSax sax(root, false);
        if (Json::sax_parse(text.begin(), text.end(), &sax)) return true;
        if (!sax.overflow) return false;
        // Difference 4: replace the overflowing number and try again. Not
        // finding it where nlohmann says it ends means the oracle is broken
        // (compare throws when it would start before the text).
        const std::size_t size = sax.number.size();
        if (size == 0 || text.compare(sax.end - size, size, sax.number) != 0)
            throw std::logic_error("oracle: cannot locate the overflowing number " + sax.number);
        text.replace(sax.end - size, size, "true");
    }
}

// What the product must make of one line: the command, or nothing if refused.
inline std::optional<Command> referenceDecode(std::string_view line) {
    if (line.size() > kMaxLineBytes) return std::nullopt;                // difference 1
    if (line.starts_with("\xEF\xBB\xBF")) return std::nullopt;           // difference 2
    if (line.find('\0') != std::string_view::npos) return std::nullopt;  // difference 3
    Json root;
    if (!parseJson(std::string(line), root)) return std::nullopt;  // and difference 4
    if (!root.is_object()) return std::nullopt;

    // The last occurrence of a key is the one the map keeps.
    const auto member = [&](const char* name) -> const Json* {
        const auto found = root.find(name);
        return found == root.end() || found->is_null() ? nullptr : &*found;
    };
    Command command;
    const Json* type = member("type");
    if (type == nullptr || !type->is_string()) return std::nullopt;
    command.type = type->get<std::string>();

    for (const char* name : {"x", "y"}) {
        const Json* value = member(name);
        if (value == nullptr) continue;
        if (!value->is_number()) return std::nullopt;
        // Difference 5: nlohmann's signed-integer zero can only come from "-0".
        const bool minusZero =
            value->type() == Json::value_t::number_integer && value->get<std::int64_t>() == 0;
        (name[0] == 'x' ? command.x : command.y) = minusZero ? -0.0 : value->get<double>();
    }

    for (const char* name : {"button", "keyCode"}) {
        const Json* value = member(name);
        if (value == nullptr) continue;
        // Not a fraction, an exponent, out of range, or not a number at all.
        const bool integer =
            value->type() == Json::value_t::number_integer ||
            (value->type() == Json::value_t::number_unsigned &&
             value->get<std::uint64_t>() <= std::numeric_limits<std::int64_t>::max());
        if (!integer) return std::nullopt;
        (name[0] == 'b' ? command.button : command.keyCode) = value->get<std::int64_t>();
    }

    if (const Json* code = member("code")) {
        if (!code->is_string()) return std::nullopt;
        command.code = code->get<std::string>();
    }
    return command;
}

// Equal commands, with coordinates compared bit for bit (so -0.0 differs from 0.0).
inline bool sameCommand(const std::optional<Command>& a, const std::optional<Command>& b) {
    const auto bits = [](std::optional<double> v) {
        return v ? std::optional(std::bit_cast<std::uint64_t>(*v)) : std::nullopt;
    };
    if (!a || !b) return a.has_value() == b.has_value();
    return a->type == b->type && bits(a->x) == bits(b->x) && bits(a->y) == bits(b->y) &&
           a->button == b->button && a->keyCode == b->keyCode && a->code == b->code;
}

// Bytes made readable for a failure message, cut short when long.
inline std::string printable(std::string_view bytes) {
    std::string out;
    for (const char c : bytes.substr(0, 240)) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
        out += c >= 0x20 && c < 0x7F && c != '\\' ? std::string(1, c) : escaped;
    }
    if (bytes.size() > 240) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

inline std::string describe(const std::optional<Command>& command) {
    if (!command) return "refused";
    std::ostringstream out;
    out.precision(17);
    out << "type=\"" << printable(command->type) << '"';
    if (command->x) out << " x=" << *command->x;
    if (command->y) out << " y=" << *command->y;
    if (command->button) out << " button=" << *command->button;
    if (command->keyCode) out << " keyCode=" << *command->keyCode;
    if (command->code) out << " code=\"" << printable(*command->code) << '"';
    return out.str();
}

// Decodes `line` with the product and with the oracle: nothing when they agree,
// else an account of the disagreement. The product reads an exact-size copy, so
// that the sanitizers catch any read past the end of the line.
inline std::optional<std::string> disagreement(std::string_view line, Decoder& decoder) {
    const auto copy = std::make_unique<char[]>(line.size());
    std::copy(line.begin(), line.end(), copy.get());
    const auto actual = decodeCommand({copy.get(), line.size()}, decoder);
    const auto expected = referenceDecode(line);
    if (sameCommand(actual, expected)) return std::nullopt;
    return "line:      " + printable(line) + "\ndecoder:   " + describe(actual) +
           "\nreference: " + describe(expected);
}

}  // namespace inputfeed::reference
