// Time per line of decodeCommand over a realistic command stream, and of two
// general-purpose JSON parsers on the very same lines. Each iteration handles
// one line, so the reported time is the time per line. At the end the medians
// are set side by side as ratios.
//
//   inputfeed-decode-bench [--benchmark_repetitions=5] [other Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "command/decoder.h"

#if INPUTFEED_BENCH_NLOHMANN
#include <nlohmann/json.hpp>
#endif
#if INPUTFEED_BENCH_SIMDJSON
#include <simdjson.h>
#endif

namespace {

// simdjson reads up to 64 bytes past the end of its input; every parser gets the
// same padded storage so none of them pays for a copy the others skip.
constexpr std::size_t kPadding = 64;
constexpr std::size_t kLineCount = 4096;  // a power of two: the index wraps with a mask

// A small deterministic generator, so every machine measures the same lines.
class Rng {
public:
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

private:
    std::uint32_t state_ = 0x9e3779b9u;
};

std::string coordinate(Rng& rng, std::uint32_t limit) {
    static constexpr const char* kFractions[] = {"",     ".5",   ".25",   ".75",
                                                 ".125", ".375", ".0625", ".3333333"};
    return std::to_string(rng.below(limit)) + kFractions[rng.below(8)];
}

// What a recorder of real sessions sends: mostly pointer moves, presses and
// releases with buttons, key presses and releases, and a few lines the decoder
// must refuse (wrong field types, broken JSON, not an object).
struct Sample {
    std::string text;
    bool valid;
};

Sample makeLine(Rng& rng) {
    static constexpr const char* kKeys[] = {
        "KeyA",      "KeyS",      "KeyD", "Digit1", "Space",  "ShiftLeft", "Enter",       "KeyW",
        "ArrowLeft", "Backspace", "Tab",  "KeyE",   "Escape", "KeyQ",      "ControlLeft", "Period"};
    static constexpr const char* kRefused[] = {
        R"({"type":"pointer","x":"12.5","y":340})",
        R"({"type":"pointerDown","x":10,"y":20,"button":1.5})",
        R"({"type":"keyDown","code":KeyA})",
        R"({"type":"pointer","x":100.5,"y":200)",
        R"(["pointer",100,200])",
        R"({"x":640,"y":480,"button":0})",
    };
    const std::uint32_t kind = rng.below(100);
    const std::string key = kKeys[rng.below(16)];
    if (kind < 50) {
        return {R"({"type":"pointerMove","x":)" + coordinate(rng, 1920) + R"(,"y":)" +
                    coordinate(rng, 1080) + "}",
                true};
    }
    if (kind < 70) {
        const char* type = kind < 60 ? "pointerDown" : "pointerUp";
        return {std::string(R"({"type":")") + type + R"(","x":)" + coordinate(rng, 1920) +
                    R"(,"y":)" + coordinate(rng, 1080) + R"(,"button":)" +
                    std::to_string(rng.below(3)) + "}",
                true};
    }
    if (kind < 94) {
        const char* type = kind < 82 ? "keyDown" : "keyUp";
        return {std::string(R"({"type":")") + type + R"(","code":")" + key + R"(","keyCode":)" +
                    std::to_string(48 + rng.below(40)) + "}",
                true};
    }
    return {kRefused[rng.below(6)], false};
}

struct Corpus {
    std::vector<char> storage;
    std::vector<std::string_view> lines;
    double meanBytes = 0;
    std::size_t refused = 0;
    std::size_t misjudged = 0;  // lines decodeCommand accepts or refuses against intent

    Corpus() {
        Rng rng;
        std::vector<Sample> samples;
        std::size_t total = 0;
        for (std::size_t i = 0; i < kLineCount; ++i) {
            samples.push_back(makeLine(rng));
            total += samples.back().text.size() + kPadding;
        }
        storage.assign(total, '\0');
        std::size_t at = 0;
        std::size_t bytes = 0;
        inputfeed::Decoder decoder;
        for (const auto& [text, valid] : samples) {
            std::copy(text.begin(), text.end(), storage.begin() + static_cast<std::ptrdiff_t>(at));
            lines.emplace_back(storage.data() + at, text.size());
            at += text.size() + kPadding;
            bytes += text.size();
            const bool accepted = inputfeed::decodeCommand(lines.back(), decoder).has_value();
            if (!accepted) ++refused;
            if (accepted != valid) ++misjudged;
        }
        meanBytes = static_cast<double>(bytes) / static_cast<double>(kLineCount);
    }
};

const Corpus& corpus() {
    static const Corpus instance;
    return instance;
}

void annotate(benchmark::State& state) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.counters["bytes_per_line"] = corpus().meanBytes;
}

// Runs `parse` over the mix, line after line, as long as the benchmark asks.
template <typename Parse>
void overLines(benchmark::State& state, Parse parse) {
    const auto& lines = corpus().lines;
    std::size_t i = 0;
    for (auto _ : state) parse(lines[i++ & (kLineCount - 1)]);
    annotate(state);
}

void BM_decodeCommand(benchmark::State& state) {
    inputfeed::Decoder decoder;
    overLines(state, [&](std::string_view line) {
        auto command = inputfeed::decodeCommand(line, decoder);
        benchmark::DoNotOptimize(command);
    });
}
BENCHMARK(BM_decodeCommand);

#if INPUTFEED_BENCH_SIMDJSON
// The DOM parse alone: builds the tape, extracts nothing.
void BM_simdjsonDomParse(benchmark::State& state) {
    simdjson::dom::parser parser;
    overLines(state, [&](std::string_view line) {
        auto result = parser.parse(line.data(), line.size(), false);
        benchmark::DoNotOptimize(result.error());
    });
}
BENCHMARK(BM_simdjsonDomParse);

// The DOM parse plus reading the fields a command needs, as decodeCommand does.
void BM_simdjsonDomFields(benchmark::State& state) {
    simdjson::dom::parser parser;
    overLines(state, [&](std::string_view line) {
        simdjson::dom::object object;
        if (parser.parse(line.data(), line.size(), false).get(object) != simdjson::SUCCESS) return;
        std::string_view type;
        double x = 0;
        double y = 0;
        std::int64_t button = 0;
        std::string_view code;
        benchmark::DoNotOptimize(object["type"].get(type));
        benchmark::DoNotOptimize(object["x"].get(x));
        benchmark::DoNotOptimize(object["y"].get(y));
        benchmark::DoNotOptimize(object["button"].get(button));
        benchmark::DoNotOptimize(object["code"].get(code));
    });
}
BENCHMARK(BM_simdjsonDomFields);
#endif

#if INPUTFEED_BENCH_NLOHMANN
void BM_nlohmannParse(benchmark::State& state) {
    overLines(state, [](std::string_view line) {
        auto value = nlohmann::json::parse(line, nullptr, false);
        benchmark::DoNotOptimize(value);
    });
}
BENCHMARK(BM_nlohmannParse);
#endif

// Prints the usual table and keeps each case's CPU time per line (the median when
// repetitions are asked for) for the summary: CPU time, because on a shared
// machine wall time also counts the time other programs held the core.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (median || single) nsPerLine[run.run_name.function_name] = run.GetAdjustedCPUTime();
        }
    }
    std::map<std::string, double> nsPerLine;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const Corpus& lines = corpus();
    std::printf("corpus: %zu lines, %.1f bytes per line on average, %zu refused by decodeCommand\n",
                lines.lines.size(), lines.meanBytes, lines.refused);
    // Timing a decoder that gets the mix wrong would measure nothing useful.
    if (lines.misjudged != 0) {
        std::fprintf(stderr, "decodeCommand misjudges %zu lines of the mix\n", lines.misjudged);
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto ours = reporter.nsPerLine.find("BM_decodeCommand");
    if (ours == reporter.nsPerLine.end()) return 0;
    std::printf("\nCPU ns per line (median):\n  %-22s %8.1f\n", "decodeCommand", ours->second);
    for (const auto& [name, ns] : reporter.nsPerLine) {
        if (name == ours->first) continue;
        std::printf("  %-22s %8.1f   decodeCommand takes %.2fx its time\n", name.substr(3).c_str(),
                    ns, ours->second / ns);
    }
    return 0;
}
