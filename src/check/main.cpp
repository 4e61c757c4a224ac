// inputfeed-check: which backend the agent would use here and why, and whether
// it could post, one line each. Exit status 0 when it could, 1 when not.
#include <cstdio>

#include "platform/check.h"
#include "program_options.h"

namespace {

constexpr char kUsage[] =
    "Usage: inputfeed-check [--help | --version]\n"
    "Says which way of posting input inputfeed would use in this session and why, and\n"
    "whether it can post there, one line each, without posting anything.\n"
    "Exit status: 0 when it can post, 1 when it cannot (the second line says why),\n"
    "2 for an unknown option.\n";

}  // namespace

int main(int argc, char** argv) {
    if (const auto status =
            inputfeed::handleProgramOptions(argc, argv, "inputfeed-check", kUsage)) {
        return *status;
    }
    const inputfeed::CheckReport report = inputfeed::checkPlatform();
    std::printf("backend: %s\n", report.backend.c_str());
    if (report.problem) {
        std::printf("can post: no: %s\n", report.problem->c_str());
    } else {
        std::puts("can post: yes");
    }
    return report.problem ? 1 : 0;
}
