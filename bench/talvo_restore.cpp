// One file's restore against its ceiling: the file is packed in memory, then restored in memory (best
// of three, thread CPU time); the decisions of that restore (traced while packing, which codes the same
// decisions in the same order) are replayed through decode_bit alone, with their own bits and their
// probabilities folded into 65,536 contexts. The gap between the two is what the modelling around
// decode_bit costs. Usage: bench_talvo_restore FILE.ogg

#include "coder/range_decoder.h"
#include "coder/range_encoder.h"
#include "pack/packer.h"
#include "unpack/unpacker.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool read_file(const char* path, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<uint8_t> input;
    if (argc != 2 || !read_file(argv[1], input)) {
        std::fprintf(stderr, "usage: bench_talvo_restore FILE.ogg\n");
        return 2;
    }
    PackOptions search;
    search.choose_settings = true;
    search.verify = false;
    const PackResult best = pack_file(input.data(), input.size(), search);

    // The chosen settings once more, traced.
    std::vector<uint32_t> trace;
    PackOptions forced;
    forced.flags = best.flags;
    forced.verify = false;
    g_decision_trace = &trace;
    const PackResult traced = pack_file(input.data(), input.size(), forced);
    g_decision_trace = nullptr;
    if (traced.archive != best.archive) std::printf("note: the traced pass made another archive\n");

    double restore = 1e9;
    for (int round = 0; round < 3; ++round) {
        std::vector<uint8_t> out;
        out.reserve(input.size());
        const double start = cpu_seconds();
        const UnpackStatus status =
            unpack_archive(ArchiveInput{nullptr, best.archive.data(), best.archive.size()}, vector_sink(out));
        restore = std::min(restore, cpu_seconds() - start);
        if (status != UnpackStatus::Ok || out != input) {
            std::fprintf(stderr, "the archive did not restore the file\n");
            return 1;
        }
    }

    RangeEncoder enc;
    std::vector<uint16_t> probs(65536, kProbInit);
    for (uint32_t d : trace)
        encode_bit(enc, probs[d & 0xFFFF], static_cast<int>(d >> 16));
    flush_encoder(enc);
    double ceiling = 1e9;
    for (int round = 0; round < 3; ++round) {
        RangeDecoder dec;
        init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
        std::fill(probs.begin(), probs.end(), kProbInit);
        uint32_t errors = 0;
        const double start = cpu_seconds();
        for (uint32_t d : trace)
            errors += static_cast<uint32_t>(decode_bit(dec, probs[d & 0xFFFF]) != static_cast<int>(d >> 16));
        ceiling = std::min(ceiling, cpu_seconds() - start);
        if (errors) {
            std::fprintf(stderr, "the replayed decisions decoded wrongly\n");
            return 1;
        }
    }

    const double decisions = static_cast<double>(trace.size());
    const double mb = static_cast<double>(input.size()) / 1e6;
    std::printf("%s: %.2f MB, archive %zu bytes, %.1f M decisions (%.1f per output byte)\n", argv[1], mb,
                best.archive.size(), decisions / 1e6, decisions / static_cast<double>(input.size()));
    std::printf("restore in memory: %.1f ms CPU, %.2f MB/s, %.0f M decisions/s\n", restore * 1e3,
                mb / restore, decisions / restore / 1e6);
    std::printf("decode_bit alone over the same decisions: %.1f ms, %.0f M decisions/s (ceiling %.2f MB/s)\n",
                ceiling * 1e3, decisions / ceiling / 1e6, mb / ceiling);
    return 0;
}
