// Cost of the performance monitor's hot operations, while not capturing and while capturing into a
// log, and the rate at which records reach the log file.
//   bench_mvcore_monitor [iterations]
#include "Marvane/Performance/PerformanceMonitor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace Marvane::Performance;
using Clock = std::chrono::steady_clock;

namespace {

template <class Body> double NanosecondsPerCall(long iterations, Body body) {
    for (long i = 0; i < iterations / 10; ++i)
        body(); // warm up
    const auto start = Clock::now();
    for (long i = 0; i < iterations; ++i)
        body();
    const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
    return spent.count() / static_cast<double>(iterations);
}

} // namespace

int main(int argc, char** argv) {
    const long iterations = argc > 1 ? std::atol(argv[1]) : 20000000;
    PerformanceMonitor& monitor = *GetPerformanceMonitor();
    StatisticOptions options;
    options.unit = L"n";
    const StatisticId counter = monitor.RegisterStatistic(L"bench counter", StatisticType::Counter, options);
    const StatisticId range = monitor.RegisterStatistic(L"bench range", StatisticType::Counter, options);
    const auto path = std::filesystem::temp_directory_path() / "bench_mvcore_monitor.mplg";

    std::printf("iterations: %ld\n", iterations);
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
