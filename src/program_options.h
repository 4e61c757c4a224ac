#pragma once

// The options our programs other than the agent take: --help and --version.

#include <optional>
#include <string_view>

namespace inputfeed {

// Handles the command line of `program`: --help prints `usage`, --version the
// version, each on standard output; `flag`, when the program has one, sets
// *flagSet; anything else is refused with one line on standard error. Returns the
// exit status when the program is to stop there (0, or 2 for a refused argument),
// nothing when it is to run.
std::optional<int> handleProgramOptions(int argc, char** argv, std::string_view program,
                                        std::string_view usage, std::string_view flag = {},
                                        bool* flagSet = nullptr);

}  // namespace inputfeed
