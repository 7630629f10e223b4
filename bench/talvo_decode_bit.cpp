// decode_bit throughput in million decisions per second, on skewed and on random decisions, over an
// in-memory sub-stream. Usage: bench_talvo_decode_bit [MILLIONS_OF_DECISIONS]
// Times are the thread's CPU time, so a machine shared with other work skews them less than wall time.

#include "coder/range_decoder.h"
#include "coder/range_encoder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

namespace {

double cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Workload {
    const char* name;
    int ones_percent; // chance of a 1 per decision
    int contexts;     // probabilities the decisions are spread over
};

void run(const Workload& w, size_t count) {
    std::mt19937 rng(42);
    std::vector<uint8_t> bits(count), ctx(count);
    for (size_t i = 0; i < count; ++i) {
        bits[i] = (rng() % 100) < static_cast<unsigned>(w.ones_percent) ? 1 : 0;
        ctx[i] = static_cast<uint8_t>(rng() % static_cast<unsigned>(w.contexts));
    }
    RangeEncoder enc;
    std::vector<uint16_t> probs(static_cast<size_t>(w.contexts), kProbInit);
    for (size_t i = 0; i < count; ++i)
        encode_bit(enc, probs[ctx[i]], bits[i]);
    flush_encoder(enc);

    double best = 0;
    for (int round = 0; round < 5; ++round) {
        RangeDecoder dec;
        init_decoder(dec, enc.out.data(), static_cast<int32_t>(enc.out.size()));
        std::vector<uint16_t> dprobs(static_cast<size_t>(w.contexts), kProbInit);
        uint32_t errors = 0;
        const double start = cpu_seconds();
        for (size_t i = 0; i < count; ++i)
            errors += static_cast<uint32_t>(decode_bit(dec, dprobs[ctx[i]]) != bits[i]);
        const double seconds = cpu_seconds() - start;
        if (errors) {
            std::fprintf(stderr, "%s: %u decisions decoded wrongly\n", w.name, errors);
            std::exit(1);
        }
        best = std::max(best, static_cast<double>(count) / seconds / 1e6);
    }
    std::printf("%-28s %8.1f M decisions/s  (%.3f bits per decision)\n", w.name, best,
                8.0 * static_cast<double>(enc.out.size()) / static_cast<double>(count));
}

} // namespace

int main(int argc, char** argv) {
    const size_t millions = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const size_t count = millions * 1000000;
    std::printf("decode_bit, %zu M decisions per run, best of 5\n", millions);
    run({"skewed (5% ones, 1 ctx)", 5, 1}, count);
    run({"skewed (5% ones, 64 ctx)", 5, 64}, count);
    run({"random (50% ones, 1 ctx)", 50, 1}, count);
    run({"random (50% ones, 64 ctx)", 50, 64}, count);
    return 0;
}
