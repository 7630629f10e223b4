#pragma once

// Input files for the hostile-input tests: the regression inputs kept beside the tests (each one an
// input a fuzzer once broke something with) and the shared FastLZ vectors.

#include "random_bytes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::filesystem::path source_root() {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    return root ? root : ".";
}

inline std::vector<uint8_t> read_file_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Files in tests/reliability/inputs whose names start with `prefix`, sorted by name.
inline std::vector<std::filesystem::path> regression_inputs(const std::string& prefix) {
    std::vector<std::filesystem::path> found;
    const auto dir = source_root() / "tests/reliability/inputs";
    if (!std::filesystem::is_directory(dir)) return found;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}
