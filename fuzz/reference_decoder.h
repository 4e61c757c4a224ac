#pragma once

// An independent oracle for decodeCommand: nlohmann's JSON parser does the
// parsing, and the record rules are applied to its result here, written out
// afresh rather than shared with the product. The differential test and the
// decoder's fuzz target both compare the product with it.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
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

namespace detail {

// Builds nlohmann's document and keeps the position of an overflowing number,
// which nlohmann reports only through its SAX interface.
class OverflowSax {
public:
    explicit OverflowSax(Json& root) : dom_(root, false) {}

    bool null() { return dom_.null(); }
    bool boolean(bool value) { return dom_.boolean(value); }
    bool number_integer(Json::number_integer_t value) { return dom_.number_integer(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return dom_.number_unsigned(value); }
    bool number_float(Json::number_float_t value, const Json::string_t& text) {
        return dom_.number_float(value, text);
    }
    bool string(Json::string_t& value) { return dom_.string(value); }
    bool binary(Json::binary_t& value) { return dom_.binary(value); }
    bool key(Json::string_t& value) { return dom_.key(value); }
    bool start_object(std::size_t size) { return dom_.start_object(size); }
    bool start_array(std::size_t size) { return dom_.start_array(size); }
    bool end_object() { return dom_.end_object(); }
    bool end_array() { return dom_.end_array(); }

    bool parse_error(std::size_t position, const std::string& token,
                     const nlohmann::detail::exception& error) {
        errorId = error.id;
        errorEnd = position;
        errorToken = token;
        return false;
    }

    int errorId = 0;
    std::size_t errorEnd = 0;
    std::string errorToken;

private:
    nlohmann::detail::json_sax_dom_parser<Json> dom_;
};

// Parses `text` as one JSON text. Returns false when the product refuses it for
// a reason of syntax or number range.
inline bool parseJson(std::string text, Json& root) {
    for (;;) {
        root = Json();
        OverflowSax sax(root);
        if (Json::sax_parse(text.begin(), text.end(), &sax)) return true;
        if (sax.errorId != 406) return false;
        // Difference 4: replace the overflowing number and try again.
        const std::size_t size = sax.errorToken.size();
        if (size == 0 || sax.errorEnd < size ||
            text.compare(sax.errorEnd - size, size, sax.errorToken) != 0) {
            std::fprintf(stderr, "oracle: cannot locate the overflowing number %s\n",
                         sax.errorToken.c_str());
            std::abort();
        }
        text.replace(sax.errorEnd - size, size, "true");
    }
}

}  // namespace detail

// What the product must make of one line: the command, or nothing if refused.
inline std::optional<Command> referenceDecode(std::string_view line) {
    if (line.size() > kMaxLineBytes) return std::nullopt;                // difference 1
    if (line.starts_with("\xEF\xBB\xBF")) return std::nullopt;           // difference 2
    if (line.find('\0') != std::string_view::npos) return std::nullopt;  // difference 3
    Json root;
    if (!detail::parseJson(std::string(line), root)) return std::nullopt;  // and difference 4
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
        double number;
        if (value->type() == Json::value_t::number_integer && value->get<std::int64_t>() == 0) {
            number = -0.0;  // difference 5
        } else if (value->is_number()) {
            number = value->get<double>();
        } else {
            return std::nullopt;
        }
        (name[0] == 'x' ? command.x : command.y) = number;
    }

    for (const char* name : {"button", "keyCode"}) {
        const Json* value = member(name);
        if (value == nullptr) continue;
        std::int64_t number;
        if (value->type() == Json::value_t::number_integer) {
            number = value->get<std::int64_t>();
        } else if (value->type() == Json::value_t::number_unsigned &&
                   value->get<std::uint64_t>() <= std::numeric_limits<std::int64_t>::max()) {
            number = static_cast<std::int64_t>(value->get<std::uint64_t>());
        } else {
            return std::nullopt;  // a fraction, an exponent, out of range, or not a number
        }
        (name[0] == 'b' ? command.button : command.keyCode) = number;
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
inline std::string printable(std::string_view bytes, std::size_t limit = 240) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    if (bytes.size() > limit) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

inline std::string describe(const std::optional<Command>& command) {
    if (!command) return "refused";
    std::string out = "type=\"" + printable(command->type) + "\"";
    const auto number = [&](const char* name, auto value) {
        if (value) out += std::string(" ") + name + "=" + std::to_string(*value);
    };
    char text[40];
    for (const auto& [name, value] : {std::pair{"x", command->x}, std::pair{"y", command->y}}) {
        if (!value) continue;
        std::snprintf(text, sizeof text, " %s=%.17g", name, *value);
        out += text;
    }
    number("button", command->button);
    number("keyCode", command->keyCode);
    if (command->code) out += " code=\"" + printable(*command->code) + "\"";
    return out;
}

}  // namespace inputfeed::reference
