// The strict JSON reader behind decodeCommand. One pass over the line's bytes:
// the top-level object's members are matched against the record's keys and
// decoded straight into the Command; every other value is validated by an
// iterative scanner whose object/array nesting lives in a bit stack owned by the
// Decoder, so no line can exhaust the call stack.

#include "command/decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>
#include <version>  // __cpp_lib_to_chars

// Floating-point from_chars is the exact, locale-free conversion; standard
// libraries without it (older libc++, as on macOS) fall back to strtod under the
// "C" locale, which rounds correctly there too. INPUTFEED_DECODER_USE_STRTOD forces
// the fallback so it can be tested where from_chars exists.
#if defined(INPUTFEED_DECODER_USE_STRTOD) || !defined(__cpp_lib_to_chars) || \
    __cpp_lib_to_chars < 201611L
#define INPUTFEED_DECODER_STRTOD 1
#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <string>
#if defined(__APPLE__)
#include <xlocale.h>
#endif
#else
#define INPUTFEED_DECODER_STRTOD 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define INPUTFEED_ALWAYS_INLINE [[gnu::always_inline]] inline
#else
#define INPUTFEED_ALWAYS_INLINE inline
#endif

namespace inputfeed {

struct Decoder::Scratch {
    // One bit per open container of an ignored value: 1 for an object, 0 for an
    // array. One level per byte of the longest line, so nesting never refuses a
    // line the reader accepts. Left uninitialised: pages are touched only by
    // lines that actually nest that deep.
    static constexpr std::size_t kNestingWords = kMaxLineBytes / 64;
    std::unique_ptr<std::uint64_t[]> nesting{new std::uint64_t[kNestingWords]};
#if INPUTFEED_DECODER_STRTOD
    locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    std::string number;  // strtod needs a terminated copy of the number
    ~Scratch() {
        if (cLocale != locale_t{}) freelocale(cLocale);
    }
#endif
};

namespace {

using Byte = unsigned char;

// The record's keys as bits, so "wrong type in the last occurrence" is one mask.
constexpr unsigned bit(CodingKeys key) {
    return 1u << static_cast<unsigned>(key);
}

// The JSON names of CodingKeys as the matcher needs them: each name with its
// closing quote as the low bytes of a little-endian word, so that one load and
// one compare recognise it.
struct KeyWord {
    std::uint64_t bytes;  // the name and its closing quote
    std::uint64_t mask;   // covering just those bytes
    std::size_t size;     // of the name and its closing quote
};

constexpr auto kKeyWords = [] {
    std::array<KeyWord, allCodingKeys.size()> words{};
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string_view name = jsonName(allCodingKeys[i]);
        if (name.empty() || name.size() >= 8) throw "a record key must fit one word with its quote";
        KeyWord& word = words[i];
        word.size = name.size() + 1;
        word.bytes = '"';
        for (std::size_t j = name.size(); j-- > 0;) word.bytes = word.bytes << 8 | Byte(name[j]);
        word.mask = word.size == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * word.size)) - 1;
    }
    return words;
}();

// The longest record key; an escaped key that decodes to more cannot match.
constexpr std::size_t kLongestKey = [] {
    std::size_t longest = 0;
    for (const CodingKeys key : allCodingKeys) longest = std::max(longest, jsonName(key).size());
    return longest;
}();

constexpr bool isSpace(Byte c) {
    constexpr std::uint64_t kMask =
        (1ull << ' ') | (1ull << '\t') | (1ull << '\n') | (1ull << '\r');
    return c <= ' ' && ((kMask >> c) & 1u) != 0;
}

constexpr bool isDigit(Byte c) {
    return static_cast<unsigned>(c - '0') < 10u;
}

// Classes of bytes inside a string; kPlain bytes are copied as they are.
enum StringClass : Byte { kPlain, kQuote, kBackslash, kControl, kNonAscii };

constexpr std::array<Byte, 256> kStringClass = [] {
    std::array<Byte, 256> table{};
    for (std::size_t c = 0; c < 0x20; ++c) table[c] = kControl;
    for (std::size_t c = 0x80; c < 0x100; ++c) table[c] = kNonAscii;
    table['"'] = kQuote;
    table['\\'] = kBackslash;
    return table;
}();

constexpr int hexValue(Byte c) {
    if (isDigit(c)) return c - '0';
    const unsigned lower = c | 0x20u;
    if (lower >= 'a' && lower <= 'f') return static_cast<int>(lower - 'a' + 10);
    return -1;
}

// Reads four hex digits at p (which must hold them) or returns -1.
int readHex4(const Byte* p) {
    const int a = hexValue(p[0]), b = hexValue(p[1]), c = hexValue(p[2]), d = hexValue(p[3]);
    if ((a | b | c | d) < 0) return -1;
    return (a << 12) | (b << 8) | (c << 4) | d;
}

char* encodeUtf8(std::uint32_t cp, char* out) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | (cp >> 6));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | (cp >> 12));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | (cp >> 18));
        *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

// Resolves the escapes of a string body that scanString has already validated.
// The result is never longer than the body, so `out` needs at most its length.
std::size_t decodeEscapes(const Byte* p, const Byte* end, char* out) {
    char* const start = out;
    while (p < end) {
        if (*p != '\\') {
            *out++ = static_cast<char>(*p++);
            continue;
        }
        const Byte kind = p[1];
        p += 2;
        switch (kind) {
            case 'b': *out++ = '\b'; break;
            case 'f': *out++ = '\f'; break;
            case 'n': *out++ = '\n'; break;
            case 'r': *out++ = '\r'; break;
            case 't': *out++ = '\t'; break;
            case 'u': {
                auto cp = static_cast<std::uint32_t>(readHex4(p));
                p += 4;
                if (cp >= 0xD800 && cp <= 0xDBFF) {  // validated: a low surrogate escape follows
                    const auto low = static_cast<std::uint32_t>(readHex4(p + 2));
                    p += 6;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                out = encodeUtf8(cp, out);
                break;
            }
            default: *out++ = static_cast<char>(kind); break;  // '"', '\\', '/'
        }
    }
    return static_cast<std::size_t>(out - start);
}

std::optional<CodingKeys> matchKey(const char* key, std::size_t size) {
    for (const CodingKeys candidate : allCodingKeys) {
        if (jsonName(candidate) == std::string_view(key, size)) return candidate;
    }
    return std::nullopt;
}

// A number validated by RFC 8259's grammar, taken apart for the field
// conversions: [digits, intEnd) is the integer part, [fracBegin, fracEnd) the
// fraction (empty when there is none). scanNumber sets every member; there are
// no initialisers because zeroing the struct costs more than a short number.
struct Number {
    const Byte* begin;
    const Byte* end;
    const Byte* digits;
    const Byte* intEnd;
    const Byte* fracBegin;
    const Byte* fracEnd;
    bool negative;
    bool integral;             // written without fraction or exponent
    std::uint64_t digitValue;  // all digits as one integer, the decimal point ignored,
                               // exact when there are at most 19 digits
    std::int64_t exponent;     // the written exponent, saturated far beyond any double

    std::ptrdiff_t intDigits() const { return intEnd - digits; }
    std::ptrdiff_t fracDigits() const { return fracEnd - fracBegin; }

    bool smallMantissa(std::uint64_t& mantissa) const {
        mantissa = digitValue;
        return intDigits() + fracDigits() <= 19;
    }

    // The k for which the number lies in [10^(k-1), 10^k); it must not be zero.
    std::int64_t decimalMagnitude() const {
        std::int64_t zeros = 0;
        for (const Byte* q = digits; q != fracEnd && (*q == '0' || *q == '.'); ++q) {
            zeros += *q == '0';
        }
        return intDigits() - zeros + exponent;
    }
};

constexpr std::array<double, 23> kPowersOfTen = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
};

class Parser {
public:
    Parser(std::string_view line, Decoder::Scratch& scratch)
        : p_(reinterpret_cast<const Byte*>(line.data())),
          end_(p_ + line.size()),
          scratch_(scratch) {}

    bool parseCommand(Command& out);

private:
    bool atEnd() const { return p_ == end_; }
    bool peekIs(Byte c) const { return p_ != end_ && *p_ == c; }
    void skipSpace() {
        while (p_ != end_ && isSpace(*p_)) ++p_;
    }
    bool consume(Byte c) {
        if (!peekIs(c)) return false;
        ++p_;
        return true;
    }
    bool consumeLiteral(const char* text, std::size_t size) {
        if (static_cast<std::size_t>(end_ - p_) < size || std::memcmp(p_, text, size) != 0) {
            return false;
        }
        p_ += size;
        return true;
    }

    // Advances p_ over printable ASCII other than '"' and '\\', eight bytes at a
    // time where the line has them.
    INPUTFEED_ALWAYS_INLINE void skipPlain() {
        constexpr std::uint64_t kOnes = 0x0101010101010101;
        constexpr std::uint64_t kHigh = 0x8080808080808080;
        while (end_ - p_ >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p_, 8);
            const std::uint64_t quote = word ^ (kOnes * '"');
            const std::uint64_t backslash = word ^ (kOnes * '\\');
            // A byte's high bit is set when it is below 0x20, a quote, a
            // backslash, or non-ASCII; borrows can only mark bytes after the
            // first such byte, so the lowest mark is exact.
            const std::uint64_t special = ((word - kOnes * 0x20) & ~word) |
                                          ((quote - kOnes) & ~quote) |
                                          ((backslash - kOnes) & ~backslash) | word;
            const std::uint64_t marks = special & kHigh;
            if (marks != 0) {
                if constexpr (std::endian::native == std::endian::little) {
                    p_ += std::countr_zero(marks) / 8;
                    return;
                }
                break;  // big-endian: finish byte by byte
            }
            p_ += 8;
        }
        while (p_ != end_ && kStringClass[*p_] == kPlain) ++p_;
    }
    // The common string, plain ASCII up to its closing quote, is handled inline.
    INPUTFEED_ALWAYS_INLINE bool scanString(const Byte*& bodyEnd, bool& escaped) {
        escaped = false;
        skipPlain();
        if (p_ != end_ && *p_ == '"') {
            bodyEnd = p_++;
            return true;
        }
        return scanStringRest(bodyEnd, escaped);
    }
    bool scanStringRest(const Byte*& bodyEnd, bool& escaped);
    std::optional<CodingKeys> quickKey();
    // The keys' words unrolled into compares with constants, in CodingKeys order.
    template <std::size_t... I>
    INPUTFEED_ALWAYS_INLINE std::optional<CodingKeys> wordKey(std::uint64_t word,
                                                              std::index_sequence<I...>) {
        std::optional<CodingKeys> found;
        (void)(((word & kKeyWords[I].mask) == kKeyWords[I].bytes &&
                (p_ += kKeyWords[I].size, found = allCodingKeys[I], true)) ||
               ...);
        return found;
    }
    bool scanEscape();
    bool scanUtf8();
    INPUTFEED_ALWAYS_INLINE bool scanNumber(Number& number);
    bool toDouble(const Number& number, double& value);
    static bool toInt64(const Number& number, std::int64_t& value);
    bool skipScalar();
    bool skipMemberKey();
    bool skipValue();
    bool decodeMember(CodingKeys key, Command& out);

    const Byte* p_;
    const Byte* const end_;
    Decoder::Scratch& scratch_;
    unsigned mistyped_ = 0;  // fields whose last occurrence holds a value of the wrong type
    bool haveType_ = false;
};

// Validates one string whose opening quote has been consumed and leaves p_ after
// the closing quote. bodyEnd receives the position of that quote; escaped tells
// whether the body needs decodeEscapes.
bool Parser::scanStringRest(const Byte*& bodyEnd, bool& escaped) {
    for (;;) {
        skipPlain();
        if (atEnd()) return false;
        switch (kStringClass[*p_]) {
            case kQuote: bodyEnd = p_++; return true;
            case kBackslash:
                escaped = true;
                if (!scanEscape()) return false;
                break;
            case kNonAscii:
                if (!scanUtf8()) return false;
                break;
            default: return false;  // raw control character
        }
    }
}

bool Parser::scanEscape() {
    if (end_ - p_ < 2) return false;
    switch (p_[1]) {
        case '"':
        case '\\':
        case '/':
        case 'b':
        case 'f':
        case 'n':
        case 'r':
        case 't': p_ += 2; return true;
        case 'u': break;
        default: return false;
    }
    if (end_ - p_ < 6) return false;
    const int unit = readHex4(p_ + 2);
    if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;  // lone low surrogate
    p_ += 6;
    if (unit < 0xD800 || unit > 0xDBFF) return true;
    // A high surrogate is only half a character: the low half must follow at once.
    if (end_ - p_ < 6 || p_[0] != '\\' || p_[1] != 'u') return false;
    const int low = readHex4(p_ + 2);
    if (low < 0xDC00 || low > 0xDFFF) return false;
    p_ += 6;
    return true;
}

// Validates one UTF-8 sequence starting with a non-ASCII byte: shortest form
// only, no encoded surrogates, nothing above U+10FFFF.
bool Parser::scanUtf8() {
    const Byte lead = *p_;
    const auto available = end_ - p_;
    Byte low = 0x80, high = 0xBF;  // bounds of the second byte
    int length;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return false;  // continuation byte, overlong lead C0/C1, or F5..FF
    }
    if (available < length || p_[1] < low || p_[1] > high) return false;
    for (int i = 2; i < length; ++i) {
        if ((p_[i] & 0xC0) != 0x80) return false;
    }
    p_ += length;
    return true;
}

// Validates a number by RFC 8259's grammar and records its parts; p_ is at its
// first byte ('-' or a digit).
bool Parser::scanNumber(Number& n) {
    n.begin = p_;
    n.negative = consume('-');
    n.integral = true;
    n.exponent = 0;
    n.digits = p_;
    if (atEnd() || !isDigit(*p_)) return false;
    // Wraps around past 19 digits, where smallMantissa no longer relies on it.
    std::uint64_t value = 0;
    auto digitRun = [&] {
        while (p_ != end_ && isDigit(*p_)) value = value * 10 + static_cast<Byte>(*p_++ - '0');
    };
    if (*p_ == '0') {  // no leading zeros: "0" stands alone before '.', 'e' or the end
        ++p_;
    } else {
        digitRun();
    }
    n.intEnd = n.fracBegin = n.fracEnd = p_;
    if (consume('.')) {
        n.integral = false;
        n.fracBegin = p_;
        if (atEnd() || !isDigit(*p_)) return false;
        digitRun();
        n.fracEnd = p_;
    }
    n.digitValue = value;
    if (peekIs('e') || peekIs('E')) {
        ++p_;
        n.integral = false;
        bool negativeExponent = false;
        if (peekIs('+') || peekIs('-')) negativeExponent = *p_++ == '-';
        if (atEnd() || !isDigit(*p_)) return false;
        constexpr std::int64_t kSaturated = std::int64_t{1} << 40;  // far past any double
        while (p_ != end_ && isDigit(*p_)) {
            if (n.exponent < kSaturated) n.exponent = n.exponent * 10 + (*p_ - '0');
            ++p_;
        }
        if (negativeExponent) n.exponent = -n.exponent;
    }
    n.end = p_;
    return true;
}

// The nearest double, ties to even. Returns false when the number is beyond the
// range of a double; an underflowing number becomes the nearest double (±0 or a
// subnormal).
bool Parser::toDouble(const Number& n, double& value) {
    std::uint64_t mantissa;
    if (n.smallMantissa(mantissa)) {
        if (mantissa == 0) {  // every digit is zero, whatever the exponent
            value = n.negative ? -0.0 : 0.0;
            return true;
        }
#if FLT_EVAL_METHOD == 0
        // Exact fast path: an integer of at most 53 bits scaled by an exactly
        // representable power of ten is one correctly rounded IEEE operation.
        const std::int64_t scale = n.exponent - n.fracDigits();
        if (mantissa <= (std::uint64_t{1} << 53) && scale >= -22 && scale <= 22) {
            auto v = static_cast<double>(mantissa);
            v = scale < 0 ? v / kPowersOfTen[static_cast<std::size_t>(-scale)]
                          : v * kPowersOfTen[static_cast<std::size_t>(scale)];
            value = n.negative ? -v : v;
            return true;
        }
#endif
    }
#if INPUTFEED_DECODER_STRTOD
    std::string& text = scratch_.number;
    text.assign(reinterpret_cast<const char*>(n.begin), static_cast<std::size_t>(n.end - n.begin));
    if (scratch_.cLocale == locale_t{}) return false;
    // strtod reads the decimal point of the thread's locale; pin it to "C".
    const locale_t previous = uselocale(scratch_.cLocale);
    const double v = std::strtod(text.c_str(), nullptr);
    uselocale(previous);
    if (std::isinf(v)) return false;
    value = v;
    return true;
#else
    double v = 0;
    const auto [ptr, ec] = std::from_chars(reinterpret_cast<const char*>(n.begin),
                                           reinterpret_cast<const char*>(n.end), v);
    if (ec == std::errc{} && ptr == reinterpret_cast<const char*>(n.end)) {
        value = v;
        return true;
    }
    if (ec != std::errc::result_out_of_range) return false;
    // from_chars reports overflow and underflow to zero alike and leaves the
    // value unset. The magnitude tells them apart: only a number below 1 can
    // underflow, only one above 1e308 overflow.
    if (n.decimalMagnitude() > 0) return false;
    value = n.negative ? -0.0 : 0.0;
    return true;
#endif
}

// An integer in the signed 64-bit range, written without fraction or exponent.
// Twenty digits or more are beyond it (the grammar allows no leading zeros).
bool Parser::toInt64(const Number& n, std::int64_t& value) {
    std::uint64_t magnitude;
    if (!n.integral || !n.smallMantissa(magnitude)) return false;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (magnitude > kMax + (n.negative ? 1u : 0u)) return false;
    // Negate in unsigned arithmetic: -2^63 has no positive counterpart.
    value = static_cast<std::int64_t>(n.negative ? ~magnitude + 1 : magnitude);
    return true;
}

bool Parser::skipScalar() {
    if (atEnd()) return false;
    switch (*p_) {
        case '"': {
            ++p_;
            const Byte* bodyEnd;
            bool escaped;
            return scanString(bodyEnd, escaped);
        }
        case 't': return consumeLiteral("true", 4);
        case 'f': return consumeLiteral("false", 5);
        case 'n': return consumeLiteral("null", 4);
        default: {
            Number number;
            return scanNumber(number);
        }
    }
}

// `"key"` `:` inside an ignored object, leaving p_ at the member's value.
bool Parser::skipMemberKey() {
    const Byte* bodyEnd;
    bool escaped;
    if (!consume('"') || !scanString(bodyEnd, escaped)) return false;
    skipSpace();
    if (!consume(':')) return false;
    skipSpace();
    return true;
}

// Validates one value of any kind at p_ without recursion: the open containers
// are a bit stack in the scratch space, one bit per level.
bool Parser::skipValue() {
    std::uint64_t* const stack = scratch_.nesting.get();
    constexpr std::size_t kCapacity = Decoder::Scratch::kNestingWords * 64;
    std::size_t depth = 0;
    for (;;) {
        // p_ is at the start of a value.
        if (atEnd()) return false;
        const Byte open = *p_;
        if (open == '{' || open == '[') {
            // Unreachable for lines of at most kMaxLineBytes; kept as a guard.
            if (depth == kCapacity) return false;
            const std::uint64_t bit = std::uint64_t{1} << (depth % 64);
            std::uint64_t& word = stack[depth / 64];
            word = open == '{' ? (word | bit) : (word & ~bit);
            ++depth;
            ++p_;
            skipSpace();
            if (consume(open == '{' ? '}' : ']')) {
                --depth;
            } else {
                if (open == '{' && !skipMemberKey()) return false;
                continue;
            }
        } else if (!skipScalar()) {
            return false;
        }
        // A value is complete: close containers until one expects another element.
        for (;;) {
            if (depth == 0) return true;
            skipSpace();
            const bool inObject = ((stack[(depth - 1) / 64] >> ((depth - 1) % 64)) & 1u) != 0;
            if (consume(',')) {
                skipSpace();
                if (inObject && !skipMemberKey()) return false;
                break;
            }
            if (!consume(inObject ? '}' : ']')) return false;
            --depth;
        }
    }
}

// Decodes the value of one of the record's members into `out`. A duplicated key
// is decided by its last occurrence, as in JavaScript's JSON.parse: each
// occurrence overwrites the field (or, if its value has the wrong type, marks it
// mistyped), so an earlier occurrence's value is only validated as JSON and its
// type never matters. A null clears the field, except for "type", where it is
// as wrong as a number.
bool Parser::decodeMember(CodingKeys key, Command& out) {
    if (atEnd()) return false;
    const Byte first = *p_;
    if (first == 'n') {
        if (!consumeLiteral("null", 4)) return false;
        switch (key) {
            case CodingKeys::x: out.x.reset(); break;
            case CodingKeys::y: out.y.reset(); break;
            case CodingKeys::button: out.button.reset(); break;
            case CodingKeys::keyCode: out.keyCode.reset(); break;
            case CodingKeys::code: out.code.reset(); break;
            case CodingKeys::type: mistyped_ |= bit(key); return true;
        }
        mistyped_ &= ~bit(key);
        return true;
    }
    bool typed = false;
    const bool textField = key == CodingKeys::type || key == CodingKeys::code;
    if (textField && first == '"') {
        ++p_;
        const Byte* const body = p_;
        const Byte* bodyEnd;
        bool escaped;
        if (!scanString(bodyEnd, escaped)) return false;
        std::string& text = key == CodingKeys::type ? out.type : out.code.emplace();
        const auto size = static_cast<std::size_t>(bodyEnd - body);
        if (!escaped) {
            text.assign(reinterpret_cast<const char*>(body), size);
        } else if (size <= 256) {  // decode on the stack so a short result stays in SSO
            char buffer[256];
            text.assign(buffer, decodeEscapes(body, bodyEnd, buffer));
        } else {
            text.resize(size);
            text.resize(decodeEscapes(body, bodyEnd, text.data()));
        }
        if (key == CodingKeys::type) haveType_ = true;
        typed = true;
    } else if (!textField && (first == '-' || isDigit(first))) {
        Number number;
        if (!scanNumber(number)) return false;
        if (key == CodingKeys::x || key == CodingKeys::y) {
            double value;
            if (toDouble(number, value)) {
                (key == CodingKeys::x ? out.x : out.y) = value;
                typed = true;
            }
        } else {
            std::int64_t value;
            if (toInt64(number, value)) {
                (key == CodingKeys::button ? out.button : out.keyCode) = value;
                typed = true;
            }
        }
    } else if (!skipValue()) {
        return false;
    }
    if (typed) {
        mistyped_ &= ~bit(key);
    } else {
        mistyped_ |= bit(key);
    }
    return true;
}

// Recognises a record key written plainly, with its closing quote, from one
// load; p_ is after the opening quote and moves past the closing one on a match.
std::optional<CodingKeys> Parser::quickKey() {
    if constexpr (std::endian::native == std::endian::little) {
        if (end_ - p_ < 8) return std::nullopt;
        std::uint64_t word;
        std::memcpy(&word, p_, 8);
        return wordKey(word, std::make_index_sequence<allCodingKeys.size()>());
    }
    return std::nullopt;
}

bool Parser::parseCommand(Command& out) {
    skipSpace();
    if (!consume('{')) return false;
    skipSpace();
    if (!consume('}')) {
        for (;;) {
            if (!consume('"')) return false;
            std::optional<CodingKeys> key = quickKey();
            if (!key) {
                const Byte* const keyBegin = p_;
                const Byte* keyEnd;
                bool escaped;
                if (!scanString(keyEnd, escaped)) return false;
                // Keys compare after their escapes are resolved ("\u0074ype" is
                // "type"). An escape stands for at least one byte in at most 6,
                // so escaped keys longer than that cannot match.
                const auto keySize = static_cast<std::size_t>(keyEnd - keyBegin);
                if (!escaped) {
                    key = matchKey(reinterpret_cast<const char*>(keyBegin), keySize);
                } else if (keySize <= kLongestKey * 6) {
                    char decoded[kLongestKey * 6];
                    key = matchKey(decoded, decodeEscapes(keyBegin, keyEnd, decoded));
                }
            }
            skipSpace();
            if (!consume(':')) return false;
            skipSpace();
            if (!key ? !skipValue() : !decodeMember(*key, out)) return false;
            skipSpace();
            if (consume(',')) {
                skipSpace();
                continue;
            }
            if (consume('}')) break;
            return false;
        }
    }
    skipSpace();
    return atEnd() && haveType_ && mistyped_ == 0;
}

}  // namespace

Decoder::Decoder() : scratch_(std::make_unique<Scratch>()) {}
Decoder::~Decoder() = default;

std::optional<Command> decodeCommand(std::string_view line, Decoder& decoder) {
    // The same limit as the line reader's, so a line decodes alike however it
    // arrives, and the nesting stack always suffices.
    if (line.size() > kMaxLineBytes) return std::nullopt;
    // One named result, default-initialised and filled in place: zeroing the
    // whole record first, as optional's in-place construction would, costs more
    // than moving its two short texts.
    Command command;
    Parser parser(line, *decoder.scratch_);
    if (!parser.parseCommand(command)) return std::nullopt;
    return std::optional<Command>(std::move(command));
}

}  // namespace inputfeed
