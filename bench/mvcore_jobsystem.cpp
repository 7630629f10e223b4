// Round trip of one job: Schedule on this thread until the worker has run it and said so.
#include "Marvane/JobSystem.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::atomic<int> done{0};

void Execute(void*) {
    done.store(1, std::memory_order_release);
}
unsigned Priority(void*) {
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int trips = argc > 1 ? std::atoi(argv[1]) : 20000;
    Marvane::Platform::JobSystem system;
    if (system.Init(L"Bench worker", Execute, nullptr, Priority) != Marvane::Error::Ok) return 1;
    int job = 0;
    std::vector<double> samples;
    samples.reserve(trips);
    for (int i = 0; i < trips; ++i) {
        done.store(0, std::memory_order_relaxed);
        const auto start = std::chrono::steady_clock::now();
        if (!system.Schedule(&job)) return 1;
        while (done.load(std::memory_order_acquire) == 0) {
        }
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    system.Stop();
    std::sort(samples.begin(), samples.end());
    double sum = 0;
    for (double s : samples)
        sum += s;
    std::printf("job round trip over %d trips: mean %.2f us, median %.2f us, p99 %.2f us\n", trips,
                sum / trips, samples[samples.size() / 2], samples[samples.size() * 99 / 100]);
    return 0;
}
