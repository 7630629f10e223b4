// CRC-32 throughput: the library's AddBytes (carry-less folding where the processor has it), its
// portable slicing-by-16 path alone, and zlib's crc32, on the same buffers. Usage: bench_mvcore_crc32
#include "Marvane/Utilities/Crc32Calculation.h"

// The portable path is internal to the library; compile it in to time it on its own.
#include "../mvcore/src/Utilities/Crc32Slicing.cpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#if __has_include(<zlib.h>)
#include <zlib.h>
#define HAVE_ZLIB 1
#endif

namespace {

template <class F> double BestGigabytesPerSecond(std::size_t size, std::size_t repeat, F&& run) {
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < repeat; ++i) {
            run();
            // Keep the compiler from computing the same checksum once for all repeats.
            asm volatile("" ::: "memory");
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const double rate = static_cast<double>(size) * static_cast<double>(repeat) / took.count() / 1e9;
        best = rate > best ? rate : best;
    }
    return best;
}

} // namespace

int main() {
    std::vector<unsigned char> data(64u << 20);
    std::mt19937 random(1);
    for (auto& b : data)
        b = static_cast<unsigned char>(random());

    std::printf("%10s %12s %12s %12s  (GB/s, best of 5)\n", "size", "AddBytes", "slicing-16", "zlib");
    for (std::size_t size : {64u, 256u, 1024u, 16u << 10, 256u << 10, 4u << 20, 64u << 20}) {
        const std::size_t repeat = (256u << 20) / size;
        unsigned sink = 0;
        const double ours = BestGigabytesPerSecond(size, repeat, [&] {
            Marvane::Utilities::Crc32Calculation crc;
            sink += crc.AddBytes(data.data(), size);
        });
        const double slicing = BestGigabytesPerSecond(size, repeat, [&] {
            sink += ~Marvane::Utilities::Crc32Detail::UpdateSlicing16(0xFFFFFFFFu, data.data(), size);
        });
        double zlib = 0;
#if defined(HAVE_ZLIB)
        zlib = BestGigabytesPerSecond(size, repeat, [&] {
            sink += static_cast<unsigned>(::crc32(0, data.data(), static_cast<uInt>(size)));
        });
        Marvane::Utilities::Crc32Calculation check;
        if (check.AddBytes(data.data(), size) != ::crc32(0, data.data(), static_cast<uInt>(size)))
            std::printf("MISMATCH at size %zu\n", size);
#endif
        std::printf("%10zu %12.2f %12.2f %12.2f   %u\n", size, ours, slicing, zlib, sink & 1);
    }
    return 0;
}
