#pragma once

// Reading the test inputs shared by the conformance and differential tests:
// files of a folder, and the lines of a stream split as the agent splits them.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace inputfeed::corpus {

// Every regular file under `folder`, as (file name, bytes), sorted by path.
inline std::vector<std::pair<std::string, std::string>> readFiles(const std::string& folder) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(path.filename().string(),
                           std::string{std::istreambuf_iterator<char>(in), {}});
    }
    return files;
}

// The lines of a stream: split at LF, one CR before the LF dropped, a last
// unterminated line kept.
inline std::vector<std::string_view> splitLines(std::string_view stream) {
    std::vector<std::string_view> lines;
    while (!stream.empty()) {
        const std::size_t end = std::min(stream.find('\n'), stream.size());
        std::string_view line = stream.substr(0, end);
        if (end < stream.size() && line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        stream.remove_prefix(std::min(end + 1, stream.size()));
    }
    return lines;
}

}  // namespace inputfeed::corpus
