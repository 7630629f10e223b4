// FastLZ-format compression and decompression throughput at both levels, with the compression ratio,
// on the reference inputs and on a 100 MB mixed file (built here, or given as the first argument).
// Usage: bench_mvcore_fastlz [file] ; the reference inputs are looked up in
// $PROJECT_SOURCE_DIR/tests/data/fastlz-vectors (default: this source tree's).
#include "Marvane/Utilities/Compressor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

using Marvane::Utilities::Compressor;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

template <class F> double BestSeconds(int rounds, F&& run) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = took.count() < best ? took.count() : best;
    }
    return best;
}

struct Totals {
    double bytes = 0, compressed[2] = {0, 0}, compressSeconds[2] = {0, 0}, decompressSeconds[2] = {0, 0};
};

void Measure(const std::string& name, const Bytes& input, Totals* totals) {
    Bytes block(Compressor::CalculateBufferSize(input.size()));
    Bytes restored(input.size());
    // Small inputs are repeated so that each timing covers at least ~32 MB.
    const std::size_t repeat = input.size() >= (32u << 20) ? 1 : (32u << 20) / input.size() + 1;
    const int rounds = input.size() >= (32u << 20) ? 3 : 5;
    std::printf("%-18s %10zu", name.c_str(), input.size());
    for (int level = 1; level <= 2; ++level) {
        std::uint64_t size = 0;
        const double c = BestSeconds(rounds, [&] {
            for (std::size_t i = 0; i < repeat; ++i)
                size = Compressor::Compress_level(level, input.data(), input.size(), block.data());
        });
        std::uint64_t out = 0;
        const double d = BestSeconds(rounds, [&] {
            for (std::size_t i = 0; i < repeat; ++i)
                out = Compressor::Decompress(block.data(), size, restored.data(), restored.size());
        });
        if (out != input.size() || std::memcmp(restored.data(), input.data(), input.size()) != 0)
            std::printf("  ROUND TRIP FAILED");
        const double mb = static_cast<double>(input.size()) * static_cast<double>(repeat) / 1e6;
        std::printf("  L%d %6.3f %8.1f %8.1f", level,
                    static_cast<double>(size) / static_cast<double>(input.size()), mb / c, mb / d);
        if (totals != nullptr) {
            totals->compressed[level - 1] += static_cast<double>(size);
            totals->compressSeconds[level - 1] += c / static_cast<double>(repeat);
            totals->decompressSeconds[level - 1] += d / static_cast<double>(repeat);
        }
    }
    if (totals != nullptr) totals->bytes += static_cast<double>(input.size());
    std::printf("\n");
}

// Roughly what a texture kit streams: text, executable code, already-compressed data, zero pages, runs and
// structured tables, in chunks of 4 KB to 1 MB.
Bytes MixedFile(std::size_t size, const std::vector<Bytes>& samples) {
    static const char* const words[] = {"texture ", "stream ", "mip ", "level ",  "block ",
                                        "format ",  "the ",    "of ",  "and ",    "\n",
                                        "    ",     "{ ",      "} ",   "return ", "0x00, "};
    std::mt19937 random(2026);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        const std::size_t chunk = std::min<std::size_t>(4096 + random() % (1u << 20), size - out.size());
        const std::size_t end = out.size() + chunk;
        switch (random() % 6) {
        case 0: // words
            while (out.size() < end)
                for (const char* w = words[random() % std::size(words)]; *w != '\0' && out.size() < end; ++w)
                    out.push_back(static_cast<unsigned char>(*w));
            break;
        case 1: // incompressible
            while (out.size() < end)
                out.push_back(static_cast<unsigned char>(random()));
            break;
        case 2: // zero page runs with sparse values
            while (out.size() < end)
                out.push_back(random() % 64 == 0 ? static_cast<unsigned char>(random()) : 0);
            break;
        case 3: // 32-bit records with slowly changing fields
            for (std::uint32_t i = 0; out.size() < end; ++i) {
                const std::uint32_t v = i / 4 * 3 + (random() % 4 == 0 ? random() % 16 : 0);
                for (int b = 0; b < 4 && out.size() < end; ++b)
                    out.push_back(static_cast<unsigned char>(v >> (8 * b)));
            }
            break;
        default: // pieces of the reference inputs (code, text)
            while (out.size() < end && !samples.empty()) {
                const Bytes& s = samples[random() % samples.size()];
                if (s.empty()) break;
                const std::size_t from = random() % s.size();
                const std::size_t n = std::min({s.size() - from, end - out.size(), std::size_t{65536}});
                out.insert(out.end(), s.begin() + static_cast<std::ptrdiff_t>(from),
                           s.begin() + static_cast<std::ptrdiff_t>(from + n));
            }
            while (out.size() < end)
                out.push_back(static_cast<unsigned char>(out.size()));
            break;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const char* root = std::getenv("PROJECT_SOURCE_DIR");
    const std::filesystem::path vectors =
        (root != nullptr ? std::filesystem::path(root)
                         : std::filesystem::path(__FILE__).parent_path().parent_path()) /
        "tests" / "data" / "fastlz-vectors";

    std::printf("%-18s %10s  %-26s  %-26s\n", "input", "bytes", "level 1: ratio  MB/s c  d",
                "level 2: ratio  MB/s c  d");
    std::vector<Bytes> samples;
    Totals totals;
    if (std::filesystem::is_directory(vectors)) {
        std::vector<std::filesystem::path> inputs;
        for (const auto& entry : std::filesystem::directory_iterator(vectors))
            if (entry.path().extension() == ".in") inputs.push_back(entry.path());
        std::sort(inputs.begin(), inputs.end());
        for (const auto& path : inputs) {
            Bytes input = ReadFile(path);
            if (input.size() < 1000) continue; // too small to time meaningfully
            Measure(path.stem().string(), input, &totals);
            samples.push_back(std::move(input));
        }
        std::printf(
            "%-18s %10.0f  L1 %6.3f %8.1f %8.1f  L2 %6.3f %8.1f %8.1f\n", "vectors (sum)", totals.bytes,
            totals.compressed[0] / totals.bytes, totals.bytes / 1e6 / totals.compressSeconds[0],
            totals.bytes / 1e6 / totals.decompressSeconds[0], totals.compressed[1] / totals.bytes,
            totals.bytes / 1e6 / totals.compressSeconds[1], totals.bytes / 1e6 / totals.decompressSeconds[1]);
    } else {
        std::printf("(no reference inputs at %s)\n", vectors.string().c_str());
    }

    const Bytes mixed = argc > 1 ? ReadFile(argv[1]) : MixedFile(100000000, samples);
    Measure(argc > 1 ? "file" : "mixed 100 MB", mixed, nullptr);
    return 0;
}
