// Packs and restores Ogg Vorbis files through stream items and reports sizes and speeds.
// Usage: bench_talvo_stream_items FILE.ogg [FLAGS] [ROUNDS]

#include "ogg/output_sink.h"
#include "pack/packer.h"
#include "unpack/unpacker.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE.ogg [FLAGS] [ROUNDS]\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PackOptions options;
    options.flags = static_cast<uint8_t>(argc > 2 ? std::atoi(argv[2]) : 0);
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    using clock = std::chrono::steady_clock;
    // Wall time and processor time: the second is the one to compare on a loaded machine.
    double best_pack = 1e9, best_unpack = 1e9, cpu_pack = 1e9, cpu_unpack = 1e9;
    std::vector<uint8_t> archive;
    for (int r = 0; r < rounds; ++r) {
        const std::clock_t c0 = std::clock();
        const auto t0 = clock::now();
        if (pack_archive(input.data(), input.size(), archive, options) != PackStatus::Ok) {
            std::fprintf(stderr, "pack failed\n");
            return 1;
        }
        const auto t1 = clock::now();
        const std::clock_t c1 = std::clock();
        std::vector<uint8_t> restored;
        OutputSink sink = vector_sink(restored);
        if (unpack_archive(ArchiveInput{nullptr, archive.data(), archive.size()}, sink) != UnpackStatus::Ok ||
            restored != input) {
            std::fprintf(stderr, "restore failed\n");
            return 1;
        }
        const auto t2 = clock::now();
        const std::clock_t c2 = std::clock();
        cpu_pack = std::min(cpu_pack, static_cast<double>(c1 - c0) / CLOCKS_PER_SEC);
        cpu_unpack = std::min(cpu_unpack, static_cast<double>(c2 - c1) / CLOCKS_PER_SEC);
        best_pack = std::min(best_pack, std::chrono::duration<double>(t1 - t0).count());
        best_unpack = std::min(best_unpack, std::chrono::duration<double>(t2 - t1).count());
    }
    const double mb = static_cast<double>(input.size()) / 1e6;
    std::printf("%s flags %u: %zu -> %zu bytes (%.2f%%); pack with its proof %.3f s wall, %.3f s cpu "
                "(%.2f MB/s cpu); restore %.3f s wall, %.3f s cpu (%.2f MB/s cpu)\n",
                argv[1], options.flags, input.size(), archive.size(),
                100.0 * static_cast<double>(archive.size()) / static_cast<double>(input.size()), best_pack,
                cpu_pack, mb / cpu_pack, best_unpack, cpu_unpack, mb / cpu_unpack);
    return 0;
}
