// Writes MPLG logs with the monitor's own writer, the way the monitor tests do, as seeds for the mplg
// reader's fuzz target. Usage: fuzz_mplg_seed_writer DIR

#include "monitor_test_support.h"

#include <cstdio>
#include <memory>

using namespace monitor_test;

namespace {

bool write_log(const std::filesystem::path& path, int rounds, bool with_ranges) {
    auto monitor = std::make_unique<TestMonitor>();
    monitor->UseFakeClock(1000);
    StatisticOptions options;
    options.description = L"d\u00e9j\u00e0 vu";
    options.unit = L"ms";
    const StatisticId counter = monitor->RegisterStatistic(L"frames", StatisticType::Counter, options);
    const StatisticId range = monitor->RegisterStatistic(L"decode", StatisticType::Counter, options);
    monitor->RegisterCurrentThread(L"main");
    if (monitor->StartRecord(path.wstring().c_str()) != Error::Ok) return false;
    for (int i = 0; i < rounds; ++i) {
        fakeNow = 10 * i;
        monitor->CounterAdd(counter, i + 1);
        if (with_ranges) {
            monitor->PushRange(range);
            fakeNow = 10 * i + 5;
            monitor->PopRange();
            monitor->EndRange(monitor->BeginRange(range));
        }
        monitor->Tick();
    }
    monitor->RegisterGroup(L"late group");
    return monitor->StopRecord() == Error::Ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::filesystem::path dir = argv[1];
    bool ok = write_log(dir / "counters.mplg", 3, false);
    ok = write_log(dir / "ranges.mplg", 4, true) && ok;
    ok = write_log(dir / "empty.mplg", 0, false) && ok;
    if (!ok) std::fputs("could not write every seed log\n", stderr);
    return ok ? 0 : 1;
}
