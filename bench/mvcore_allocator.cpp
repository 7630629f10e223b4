// Cost of Alloc/Free pairs through the library allocator (header, category accounting in the
// performance monitor, default allocator) against plain malloc/free, on 1 and 4 threads.
//
// Each thread keeps 64 live blocks of 16 to 496 bytes and replaces one of them per pair, in a fixed
// pseudo-random order of slots and sizes, so that both sides see the same heap traffic. Every figure is
// the median of several rounds (the machine may be shared); malloc and the library alternate within a
// round. A last line measures the library while a performance log is being captured.
//
//   bench_mvcore_allocator [pairs per thread [rounds]]
#include "Marvane/Allocator.h"
#include "Marvane/Performance/PerformanceMonitor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned LiveBlocks = 64;
constexpr unsigned PatternLength = 4096;

struct Step {
    std::uint16_t slot;
    std::uint16_t size;
};

// The same slots and sizes for every thread and both allocators.
std::vector<Step> MakePattern() {
    std::vector<Step> pattern(PatternLength);
    std::uint32_t state = 0x9E3779B9u;
    for (Step& step : pattern) {
        state = state * 1664525u + 1013904223u;
        step.slot = static_cast<std::uint16_t>((state >> 8) % LiveBlocks);
        step.size = static_cast<std::uint16_t>(16 + 16 * ((state >> 20) % 31)); // 16..496
    }
    return pattern;
}

// Keeps the compiler from pairing up and deleting allocation and release.
inline void Escape(void* p) {
    asm volatile("" : : "g"(p) : "memory");
}

struct PlainHeap {
    void* Alloc(std::size_t size) { return std::malloc(size); }
    void Free(void* p) { std::free(p); }
};

struct LibraryHeap {
    Marvane::Allocator* allocator = Marvane::GetAllocator();
    Marvane::ContextInfo context = MARVANE_CONTEXT_INFO;
    void* Alloc(std::size_t size) { return allocator->Alloc(size, Marvane::AllocationCategory::Cache, context); }
    void Free(void* p) { allocator->Free(p, context); }
};

template <class Heap> void RunPairs(const std::vector<Step>& pattern, long pairs) {
    Heap heap;
    void* live[LiveBlocks];
    for (unsigned i = 0; i < LiveBlocks; ++i)
        live[i] = heap.Alloc(16 + 16 * i % 496);
    for (long i = 0; i < pairs; ++i) {
        const Step step = pattern[static_cast<std::size_t>(i) % PatternLength];
        heap.Free(live[step.slot]);
        auto* block = static_cast<unsigned char*>(heap.Alloc(step.size));
        block[0] = static_cast<unsigned char>(i);
        Escape(block);
        live[step.slot] = block;
    }
    for (void* block : live)
        heap.Free(block);
}

// Wall time of `threads` threads doing `pairs` pairs each, in nanoseconds per pair of one thread.
template <class Heap> double NanosecondsPerPair(const std::vector<Step>& pattern, unsigned threads, long pairs) {
    std::atomic<unsigned> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            ready.fetch_add(1);
            while (!go.load())
                std::this_thread::yield();
            RunPairs<Heap>(pattern, pairs);
        });
    }
    while (ready.load() != threads)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    go.store(true);
    for (std::thread& worker : workers)
        worker.join();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / static_cast<double>(pairs);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const long pairs = argc > 1 ? std::atol(argv[1]) : 2000000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    const std::vector<Step> pattern = MakePattern();

    std::printf("%ld pairs per thread, 64 live blocks of 16..496 bytes, median of %d rounds\n", pairs, rounds);
    std::printf("threads  malloc/free ns  Alloc/Free ns  ratio\n");
    for (unsigned threads : {1u, 4u}) {
        std::vector<double> plain, library, ratio;
        for (int round = 0; round < rounds; ++round) {
            plain.push_back(NanosecondsPerPair<PlainHeap>(pattern, threads, pairs));
            library.push_back(NanosecondsPerPair<LibraryHeap>(pattern, threads, pairs));
            ratio.push_back(library.back() / plain.back());
        }
        std::printf("%7u  %14.1f  %13.1f  %5.2f\n", threads, Median(plain), Median(library), Median(ratio));
    }

    // While a log is captured every update is also a record in the log: the cost of capturing.
    auto* manager = Marvane::Performance::GetPerformanceManager();
    const auto path = std::filesystem::temp_directory_path() /
                      ("bench_mvcore_allocator_" + std::to_string(std::chrono::steady_clock::now()
                                                                      .time_since_epoch()
                                                                      .count()) +
                       ".mplg");
    if (manager->StartRecord(path.wstring().c_str()) == Marvane::Error::Ok) {
        std::vector<double> library;
        for (int round = 0; round < rounds; ++round)
            library.push_back(NanosecondsPerPair<LibraryHeap>(pattern, 1, pairs / 4));
        manager->StopRecord();
        std::printf("capturing a log, 1 thread: Alloc/Free %.1f ns (%ju bytes of log)\n", Median(library),
                    static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
        std::filesystem::remove(path);
    }
    return 0;
}
