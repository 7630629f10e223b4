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
#include <time.h>
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
    void* Alloc(std::size_t size) {
        return allocator->Alloc(size, Marvane::AllocationCategory::Cache, context);
    }
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

double ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

struct Cost {
    double wall; // wall time of the run per pair of one thread
    double cpu;  // processor time of all threads per pair
};

// `threads` threads doing `pairs` pairs each, started together.
template <class Heap>
Cost NanosecondsPerPair(const std::vector<Step>& pattern, unsigned threads, long pairs) {
    std::atomic<unsigned> ready{0};
    std::atomic<bool> go{false};
    std::vector<double> cpu(threads, 0.0);
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            ready.fetch_add(1);
            while (!go.load())
                std::this_thread::yield();
            const double start = ThreadCpuNanoseconds();
            RunPairs<Heap>(pattern, pairs);
            cpu[t] = ThreadCpuNanoseconds() - start;
        });
    }
    while (ready.load() != threads)
        std::this_thread::yield();
    const auto start = std::chrono::steady_clock::now();
    go.store(true);
    for (std::thread& worker : workers)
        worker.join();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    double cpuTotal = 0.0;
    for (double c : cpu)
        cpuTotal += c;
    return {spent.count() / static_cast<double>(pairs), cpuTotal / static_cast<double>(pairs * threads)};
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

    std::printf("%ld pairs per thread, 64 live blocks of 16..496 bytes, median of %d rounds\n", pairs,
                rounds);
    std::printf(
        "nanoseconds per pair: wall time per thread, and processor time (steadier on a loaded machine)\n");
    std::printf("threads  malloc/free wall   cpu  Alloc/Free wall   cpu  ratio wall   cpu\n");
    for (unsigned threads : {1u, 4u}) {
        std::vector<double> plainWall, plainCpu, libraryWall, libraryCpu, ratioWall, ratioCpu;
        for (int round = 0; round < rounds; ++round) {
            const Cost plain = NanosecondsPerPair<PlainHeap>(pattern, threads, pairs);
            const Cost library = NanosecondsPerPair<LibraryHeap>(pattern, threads, pairs);
            plainWall.push_back(plain.wall);
            plainCpu.push_back(plain.cpu);
            libraryWall.push_back(library.wall);
            libraryCpu.push_back(library.cpu);
            ratioWall.push_back(library.wall / plain.wall);
            ratioCpu.push_back(library.cpu / plain.cpu);
        }
        std::printf("%7u  %16.1f %5.1f  %15.1f %5.1f  %10.2f %5.2f\n", threads, Median(plainWall),
                    Median(plainCpu), Median(libraryWall), Median(libraryCpu), Median(ratioWall),
                    Median(ratioCpu));
    }

    // While a log is captured every update is also a record in the log: the cost of capturing.
    auto* manager = Marvane::Performance::GetPerformanceManager();
    const auto path = std::filesystem::temp_directory_path() /
                      ("bench_mvcore_allocator_" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".mplg");
    if (manager->StartRecord(path.wstring().c_str()) == Marvane::Error::Ok) {
        std::vector<double> library;
        for (int round = 0; round < rounds; ++round)
            library.push_back(NanosecondsPerPair<LibraryHeap>(pattern, 1, pairs / 4).cpu);
        manager->StopRecord();
        std::printf("capturing a log, 1 thread: Alloc/Free %.1f ns of processor time (%ju bytes of log)\n",
                    Median(library), static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
        std::filesystem::remove(path);
    }
    return 0;
}
