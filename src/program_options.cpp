#include "program_options.h"

#include <cstdio>
#include <string_view>

namespace inputfeed {

std::optional<int> handleProgramOptions(int argc, char** argv, std::string_view program,
                                        std::string_view usage, std::string_view flag,
                                        bool* flagSet) {
    std::string_view chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!flag.empty() && argument == flag) {
            *flagSet = true;
            continue;
        }
        if (argument != "--help" && argument != "--version") {
            std::fprintf(stderr, "%.*s: unknown option \"%s\" (see --help)\n",
                         static_cast<int>(program.size()), program.data(), argv[i]);
            return 2;
        }
        if (chosen.empty()) chosen = argument;
    }
    if (chosen.empty()) return std::nullopt;
    if (chosen == "--help") {
        std::fwrite(usage.data(), 1, usage.size(), stdout);
    } else {
        std::printf("%.*s %s\n", static_cast<int>(program.size()), program.data(),
                    INPUTFEED_VERSION);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace inputfeed
