// Differential test: decodeCommand against the oracle of reference_decoder.h
// (nlohmann's parser plus the record rules, with the product's deliberate
// differences listed there and only there). Verdict and fields must agree for
// every line of the seed corpora, every case of a JSON conformance corpus (raw
// and embedded in a command), generated commands and mutated lines.
//
// Usage: inputfeed-differential-test [gtest flags] SEED_CORPUS [JSON_SUITE]

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "command/decoder.h"
#include "reference_decoder.h"

namespace inputfeed {
namespace {

std::string seedFolder;
std::string suiteFolder;

// Decodes every line both ways and fails on the first few disagreements.
// Returns how many lines were accepted.
std::size_t expectAgreement(const std::vector<std::string>& lines) {
    Decoder decoder;
    std::size_t accepted = 0, reported = 0;
    for (const auto& line : lines) {
        const auto report = reference::disagreement(line, decoder);
        if (report && ++reported <= 20) ADD_FAILURE() << *report;
        accepted += decodeCommand(line, decoder).has_value();
    }
    return accepted;
}

// Every file in `folder`, sorted by name.
std::vector<std::string> readFiles(const std::string& folder) {
    std::vector<std::filesystem::path> paths(std::filesystem::directory_iterator(folder), {});
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> files;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

std::vector<std::string> seedLines() {
    std::vector<std::string> lines = readFiles(seedFolder + "/fuzz_decode");
    // Agent seeds start with a byte that steers delivery; the rest is a stream
    // of lines, each ended by LF or CR LF.
    for (const auto& stream : readFiles(seedFolder + "/fuzz_agent")) {
        std::istringstream in(stream.substr(1));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    }
    return lines;
}

// Builds command-like lines from pieces chosen to sit on both sides of every
// rule: record keys and look-alikes, values of each JSON type, numbers at the
// edges of the integer and double ranges, escapes, whitespace and broken syntax.
class CommandGenerator {
public:
    std::string line() {
        std::string out = outerSpace() + "{";
        const std::size_t members = 1 + next(6);
        for (std::size_t i = 0; i < members; ++i) {
            if (i > 0) out += space() + "," + space();
            // Mostly "type" first, since without it nothing is accepted.
            const std::string& key =
                i == 0 && next(10) != 0 ? kKeys[0] : pick(next(5) == 0 ? kOddKeys : kKeys);
            out += space() + "\"" + key + "\"" + space() + ":" + space() + value(key);
        }
        out += space() + "}" + outerSpace();
        if (next(40) == 0) out.insert(next(out.size() + 1), pick(kBreakers));
        return out;
    }

    std::string mutate(std::string line) {
        const std::size_t edits = 1 + next(3);
        for (std::size_t i = 0; i < edits; ++i) {
            const std::size_t at = next(line.size() + 1);
            switch (next(4)) {
                case 0: line.insert(at, pick(kBreakers)); break;
                case 1:
                    if (at < line.size()) line.erase(at, 1 + next(4));
                    break;
                case 2:
                    if (at < line.size()) line[at] = static_cast<char>(line[at] ^ (1 << next(8)));
                    break;
                default:
                    if (at < line.size()) line.insert(at, line.substr(at, 1 + next(12)));
            }
        }
        return line;
    }

private:
    std::size_t next(std::size_t bound) { return bound == 0 ? 0 : random_() % bound; }
    const std::string& pick(const std::vector<std::string>& from) {
        return from[next(from.size())];
    }
    std::string space() {
        return next(3) != 0 ? "" : next(20) == 0 ? pick(kBadSpaces) : pick(kSpaces);
    }
    std::string outerSpace() {
        return next(2) != 0 ? "" : next(20) == 0 ? pick(kBadOuter) : pick(kSpaces);
    }

    // Mostly what the key wants, so that many lines are accepted.
    std::string value(const std::string& key) {
        const std::size_t roll = next(10);
        if (key == "type" || key == "code") {
            if (roll < 8) return pick(kTexts);
            if (roll == 8) return pick(kBadTexts);
        } else if (key == "x" || key == "y") {
            if (roll < 8) return number();
            if (roll == 8) return pick(kBadNumbers);
        } else if (key == "button" || key == "keyCode") {
            if (roll < 8) return integer();
            if (roll == 8) return number();
        }
        switch (next(6)) {
            case 0: return pick(kTexts);
            case 1: return number();
            case 2: return integer();
            case 3: {
                const std::size_t depth = 1 + next(600);
                return std::string(depth, '[') + number() + std::string(depth, ']');
            }
            case 4:
                return "[" + number() + "," + pick(kTexts) + ",{\"a\":" + pick(kLiterals) + "}]";
            default: return pick(kLiterals);
        }
    }

    std::string digits(std::size_t count) {
        std::string out(1, static_cast<char>('1' + next(9)));
        while (out.size() < count) out += static_cast<char>('0' + next(10));
        return count == 1 && next(4) == 0 ? "0" : out;
    }

    std::string integer() {
        if (next(3) == 0) return pick(kIntegers);
        return (next(3) == 0 ? "-" : "") + digits(1 + next(next(4) == 0 ? 21 : 5));
    }

    std::string number() {
        if (next(4) == 0) return pick(kNumbers);
        std::string out = (next(3) == 0 ? "-" : "") + digits(1 + next(next(5) == 0 ? 40 : 6));
        if (next(2) == 0) out += "." + std::to_string(next(100000));
        if (next(3) == 0) out += pick(kExponents) + std::to_string(next(next(4) == 0 ? 400 : 30));
        return out;
    }

    std::mt19937_64 random_{0x5eed};

    // Pools of plain tokens, written space-separated for brevity.
    static std::vector<std::string> words(const std::string& text) {
        std::istringstream in(text);
        return {std::istream_iterator<std::string>(in), {}};
    }

    const std::vector<std::string> kKeys = words("type x y button keyCode code");
    const std::vector<std::string> kOddKeys = {
        "Type", "X", "t\\u0079pe", "\\u0078", "typ", "types", "", "z", "code\\u0000", "x ", "key"};
    const std::vector<std::string> kTexts = {
        R"("pointerDown")", R"("pointerUp")", R"("pointer")",          R"("keyDown")",
        R"("KeyA")",        R"("")",          R"("p\u006finter")",     R"("\ud83d\ude00")",
        "\"\xC3\xA9\"",     R"("Delete")",    R"("\/\b\f\n\r\t\"\\")", "\"\xF4\x8F\xBF\xBF\"",
        "\"\xEF\xBF\xBF\"", R"("\u0000")"};
    const std::vector<std::string> kBadTexts = {
        R"("\ud800")", R"("\udc00x")", "\"\xED\xA0\x80\"",     "\"\xC0\xAF\"",      "\"a\x01\"",
        R"("\x")",     R"("\u12")",    "\"\xF4\x90\x80\x80\"", R"("\ud83d\u0041")", "'a'"};
    const std::vector<std::string> kIntegers = words(
        "0 -0 1 2 -1 9223372036854775807 9223372036854775808 -9223372036854775808 "
        "-9223372036854775809 18446744073709551615 18446744073709551616 4294967297 2.0 1e2 1.5 "
        "-0.0");
    const std::vector<std::string> kNumbers = words(
        "0 -0 1 1.5 1E+2 0.0 -0.0 1e-2 1e308 1.7976931348623157e308 1.7976931348623158e308 "
        "1.7976931348623159e308 -1e309 4.9e-324 2.4703282292062327e-324 2.4703282292062328e-324 "
        "1e-400 0e99999 9007199254740993 0.1 123456789012345678901234567890 18446744073709551616");
    const std::vector<std::string> kBadNumbers =
        words("01 - 1. .5 +1 1e 0x10 NaN Infinity -Infinity 1_000 -01");
    const std::vector<std::string> kExponents = words("e E e+ e- E-");
    const std::vector<std::string> kLiterals = words("null null true false [] {} nul tru None");
    const std::vector<std::string> kSpaces = {" ", "\t", "\r", "\n", "  "};
    const std::vector<std::string> kBadSpaces = {"\f", "\v", "\xC2\xA0"};
    const std::vector<std::string> kBadOuter = {"\xEF\xBB\xBF", std::string(1, '\0'), "\f", "x"};
    const std::vector<std::string> kBreakers = [] {
        auto out = words(R"(" \ { } [ ] , : 0 - . e {} "type":"a", 1e400)");
        out.insert(out.end(),
                   {std::string(1, '\0'), "\xFF", "\xC3", "\r", "\n", " ", "\xEF\xBB\xBF"});
        return out;
    }();
};

// Seed lines, generated lines, and mutations of the seeds and the first
// generated lines.
TEST(Differential, SeedGeneratedAndMutatedLines) {
    std::vector<std::string> lines = seedLines();
    ASSERT_GT(lines.size(), 50u) << "seed corpus not found under " << seedFolder;
    const std::size_t originals = lines.size() + 2000;
    CommandGenerator generator;
    for (int i = 0; i < 30000; ++i) lines.push_back(generator.line());
    for (int round = 0; round < 10; ++round)
        for (std::size_t i = 0; i < originals; ++i) lines.push_back(generator.mutate(lines[i]));
    const std::size_t accepted = expectAgreement(lines);
    std::printf("%zu of %zu lines accepted\n", accepted, lines.size());
    // The comparison is only worth something if both verdicts occur often.
    EXPECT_GT(accepted, lines.size() / 10);
    EXPECT_LT(accepted, lines.size() * 9 / 10);
}

TEST(Differential, ConformanceCases) {
    if (suiteFolder.empty()) GTEST_SKIP() << "no JSON conformance corpus given";
    std::vector<std::string> lines;
    for (const auto& bytes : readFiles(suiteFolder)) {
        lines.push_back(bytes);
        lines.push_back(R"({"type":"keyDown","code":"KeyA","z":)" + bytes + "}");
        lines.push_back(R"({"type":"pointer","x":)" + bytes + R"(,"y":2})");
    }
    ASSERT_GT(lines.size(), 0u);
    expectAgreement(lines);
}

}  // namespace
}  // namespace inputfeed

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s [gtest flags] SEED_CORPUS [JSON_SUITE]\n", argv[0]);
        return 2;
    }
    inputfeed::seedFolder = argv[1];
    if (argc == 3) inputfeed::suiteFolder = argv[2];
    return RUN_ALL_TESTS();
}
