// Cost of the performance monitor's hot operations, while not capturing and while capturing into a
// log, and the rate at which records reach the log file.
//   bench_mvcore_monitor [iterations [log directory]]
#include "Marvane/Performance/PerformanceMonitor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace Marvane::Performance;
using Clock = std::chrono::steady_clock;

namespace {

// The best of several rounds: the machine may be shared, and interruptions only ever add time.
template <class Body> double NanosecondsPerCall(long iterations, Body body) {
    for (long i = 0; i < iterations / 10; ++i)
        body(); // warm up
    double best = 1e300;
    const long perRound = iterations / 7 + 1;
    for (int round = 0; round < 7; ++round) {
        const auto start = Clock::now();
        for (long i = 0; i < perRound; ++i)
            body();
        const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
        best = std::min(best, spent.count() / static_cast<double>(perRound));
    }
    return best;
}

} // namespace

int main(int argc, char** argv) {
    const long iterations = argc > 1 ? std::atol(argv[1]) : 20000000;
    PerformanceMonitor& monitor = *GetPerformanceMonitor();
    StatisticOptions options;
    options.unit = L"n";
    const StatisticId counter = monitor.RegisterStatistic(L"bench counter", StatisticType::Counter, options);
    const StatisticId range = monitor.RegisterStatistic(L"bench range", StatisticType::Counter, options);
    const std::filesystem::path directory =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    const auto path = directory / "bench_mvcore_monitor.mplg";

    std::printf("iterations: %ld, log %s\n", iterations, path.string().c_str());
    const double addIdle = NanosecondsPerCall(iterations, [&] { monitor.CounterAdd(counter, 3); });
    const double rangeIdle = NanosecondsPerCall(iterations / 4, [&] {
        monitor.PushRange(range);
        monitor.PopRange();
    });
    std::printf("not capturing: CounterAdd %.1f ns, PushRange+PopRange %.1f ns\n", addIdle, rangeIdle);

    if (monitor.StartRecord(path.wstring().c_str()) != Marvane::Error::Ok) {
        std::fprintf(stderr, "cannot capture into %s\n", path.string().c_str());
        return 1;
    }
    const double addCapturing = NanosecondsPerCall(iterations, [&] { monitor.CounterAdd(counter, 3); });
    const double rangeCapturing = NanosecondsPerCall(iterations / 4, [&] {
        monitor.PushRange(range);
        monitor.PopRange();
    });
    const auto stopStart = Clock::now();
    monitor.StopRecord();
    const std::chrono::duration<double> stopTime = Clock::now() - stopStart;
    std::printf("capturing:     CounterAdd %.1f ns, PushRange+PopRange %.1f ns\n", addCapturing,
                rangeCapturing);

    // Records per second into the log: 8-byte CounterAdd records, file closed and complete.
    if (monitor.StartRecord(path.wstring().c_str()) != Marvane::Error::Ok) return 1;
    const long records = iterations;
    const auto start = Clock::now();
    for (long i = 0; i < records; ++i)
        monitor.CounterAdd(counter, 1);
    monitor.StopRecord();
    const std::chrono::duration<double> spent = Clock::now() - start;
    const auto size = std::filesystem::file_size(path);
    std::printf("log: %ld records in %.3f s = %.1f M records/s, %.1f MB/s to disk (file %ju bytes; last stop "
                "%.3f s)\n",
                records, spent.count(), static_cast<double>(records) / spent.count() / 1e6,
                static_cast<double>(size) / spent.count() / 1e6, static_cast<std::uintmax_t>(size),
                stopTime.count());
    std::filesystem::remove(path);
    return 0;
}
