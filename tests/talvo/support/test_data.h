#pragma once

// Files committed under tests/data, found through PROJECT_SOURCE_DIR (ctest sets it; a test program run
// by hand from the source root finds them too). Under wine the Unix tree is drive Z:.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::filesystem::path test_data_dir(const std::string& name) {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    std::string path = std::string(root ? root : ".") + "/tests/data/" + name;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return std::filesystem::path(path);
}

inline std::vector<uint8_t> read_data_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// An Ogg file and the archive made of it, NAME.ogg and NAME.talvo side by side.
struct ArchivePair {
    std::string name;
    std::filesystem::path ogg;
    std::filesystem::path archive;
};

// Every pair in a directory, sorted by name (an archive without its Ogg file is left out).
inline std::vector<ArchivePair> archive_pairs(const std::filesystem::path& dir) {
    std::vector<ArchivePair> pairs;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".talvo") continue;
        std::filesystem::path ogg = entry.path();
        ogg.replace_extension(".ogg");
        if (std::filesystem::exists(ogg)) pairs.push_back({entry.path().stem().string(), ogg, entry.path()});
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const ArchivePair& a, const ArchivePair& b) { return a.name < b.name; });
    return pairs;
}

// Where two byte strings first differ (the shorter length when one is a prefix of the other), or
// SIZE_MAX when they are equal.
inline size_t first_mismatch(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return i;
    return a.size() == b.size() ? SIZE_MAX : n;
}
