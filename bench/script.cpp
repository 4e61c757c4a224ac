#include "script.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace inputfeed::bench {
namespace {

[[noreturn]] void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "inputfeed benchmark: %s%.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::exit(1);
}

int number(std::string_view word) {
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc{} || end != word.data() + word.size()) fail("not a number: ", word);
    return value;
}

}  // namespace

std::vector<Action> readScript(const char* path, const KeyResolver& resolve) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read ", path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::map<std::string, unsigned, std::less<>> codes;
    std::vector<Action> actions;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;

        std::string_view args[4];
        std::size_t count = 0;
        bool optionValue = false;
        for (std::size_t i = 0; i < line.size();) {
            if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
            const std::string_view word = line.substr(i, j - i);
            i = j;
            if (optionValue) {
                optionValue = false;
            } else if (word.starts_with("--")) {
                optionValue = true;  // skip the option and its value
            } else if (count < 4) {
                args[count++] = word;
            } else {
                count = 5;  // too many words
                break;
            }
        }
        if (count == 0) continue;
        const std::string_view verb = args[0];
        if (verb == "mousemove" && count == 3) {
            actions.push_back({Action::motion, number(args[1]), number(args[2]), 0, false});
        } else if ((verb == "keydown" || verb == "keyup") && count == 2) {
            auto it = codes.find(args[1]);
            if (it == codes.end()) it = codes.emplace(std::string(args[1]), resolve(args[1])).first;
            if (it->second == 0) fail("no key code for ", it->first);
            actions.push_back({Action::key, 0, 0, it->second, verb == "keydown"});
        } else if ((verb == "mousedown" || verb == "mouseup") && count == 2) {
            actions.push_back({Action::button, 0, 0, static_cast<unsigned>(number(args[1])),
                               verb == "mousedown"});
        } else {
            fail("cannot read script line: ", line);
        }
    }
    return actions;
}

}  // namespace inputfeed::bench
