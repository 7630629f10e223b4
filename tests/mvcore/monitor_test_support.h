#pragma once

// Helpers shared by the performance monitor tests: a monitor whose clock and write primitives the test
// controls, temporary files and little-endian readers.

#include "Marvane/Performance/PerformanceMonitor.h"
#include "scratch_dir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace monitor_test {

using namespace Marvane;
using namespace Marvane::Performance;

inline std::atomic<std::int64_t> fakeNow{0};
inline std::int64_t FakeClock() {
    return fakeNow.load();
}

// A private monitor: fresh tables per test, and the protected primitives reachable.
class TestMonitor : public PerformanceMonitor {
  public:
    using PerformanceMonitor::Flush;
    using PerformanceMonitor::Write;
    using PerformanceMonitor::Write64;
    using PerformanceMonitor::WriteCreateEvent;
    using PerformanceMonitor::WriteDouble;
    using PerformanceMonitor::WriteHeader;
    using PerformanceMonitor::WritePayload;
    using PerformanceMonitor::WriteTime;

    void UseFakeClock(std::int64_t rate) {
        fakeNow = 0;
        SetTimeSource(&FakeClock, rate);
    }
};

// A fresh name in the test program's scratch directory, which goes when the program ends.
inline std::filesystem::path TempPath(const std::string& name) {
    static std::atomic<int> serial{0};
    return program_scratch_dir() / (name + "-" + std::to_string(serial++) + ".mplg");
}

inline std::vector<unsigned char> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::uint32_t U32(const std::vector<unsigned char>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline std::uint64_t U64(const std::vector<unsigned char>& b, std::size_t at) {
    return U32(b, at) | (static_cast<std::uint64_t>(U32(b, at + 4)) << 32);
}

inline std::uint16_t U16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

// Waits until the file has reached `size` bytes (asynchronous writes), or gives up after thirty seconds
// (a loaded machine under a sanitizer or wine can be slow to get a write to disk).
inline std::uintmax_t WaitForFileSize(const std::filesystem::path& path, std::uintmax_t size) {
    std::uintmax_t now = 0;
    for (int i = 0; i < 3000; ++i) {
        std::error_code error;
        now = std::filesystem::file_size(path, error);
        if (!error && now >= size) return now;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return now;
}

} // namespace monitor_test
