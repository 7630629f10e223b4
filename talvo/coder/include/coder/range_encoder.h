#pragma once

#include "coder/range_decoder.h"

#include <cstdint>
#include <vector>

// The exact inverse of RangeDecoder: a carry-propagating range encoder. Its always-zero first byte is
// not written, because the decoder starts from four bytes, not five.
struct RangeEncoder {
    uint64_t low = 0;
    uint32_t range = 0xFFFFFFFFu;
    uint8_t cache = 0;
    uint64_t cache_size = 1;
    bool first_byte_pending = true; // the leading zero byte, dropped
    std::vector<uint8_t> out;
};

void init_encoder(RangeEncoder& enc);
void encoder_shift_low(RangeEncoder& enc);
// Writes out everything still held, so a decoder over `out` decodes every bit that was encoded.
void flush_encoder(RangeEncoder& enc);

#ifdef TALVO_DECISION_TRACE
// Only in the benchmark's own build of the layers (bench_talvo_restore): while set, every decision the
// encoders code is appended here as its bit (bit 16) and its probability's address folded to 16 bits,
// so the decisions of a real restore can be replayed through decode_bit alone. Single-threaded use.
// The programs are built without it and test nothing per bit.
extern std::vector<uint32_t>* g_decision_trace;

inline void trace_decision(const uint16_t& prob, int bit) {
    if (g_decision_trace)
        g_decision_trace->push_back(
            static_cast<uint32_t>(bit) << 16 |
            static_cast<uint32_t>((reinterpret_cast<uintptr_t>(&prob) >> 1) & 0xFFFF));
}
#else
inline void trace_decision(const uint16_t& /*prob*/, int /*bit*/) {}
#endif

// One decision into the encoder's low end and range; the caller normalises.
[[gnu::always_inline]] inline void encode_unnormalised(uint64_t& low, uint32_t& range, uint16_t& prob,
                                                       int bit) {
    trace_decision(prob, bit);
    const uint16_t stored = prob;
    const uint32_t p = probability_of(stored);
    const uint32_t bound = range_split(range, p);
    if (bit == 0) {
        range = bound;
        prob = adapted_to_zero(stored);
    } else {
        low += bound;
        range -= bound;
        prob = adapted_to_one(stored, p);
    }
}

// encoder_shift_low on a low end held in a local. Inline is the case nearly every byte takes: no run
// of 0xFF bytes is waiting for a carry, so the held byte goes out (with the carry, if any) and the
// top byte of `low` is held in its place.
[[gnu::always_inline]] inline void shift_low_of(RangeEncoder& enc, uint64_t& low) {
    if ((low < 0xFF000000ull || low >= (1ull << 32)) && enc.cache_size == 1 && !enc.first_byte_pending)
        [[likely]] {
        enc.out.push_back(static_cast<uint8_t>(enc.cache + static_cast<uint8_t>(low >> 32)));
        enc.cache = static_cast<uint8_t>(low >> 24);
        low = (low & 0x00FFFFFFull) << 8;
        return;
    }
    enc.low = low;
    encoder_shift_low(enc);
    low = enc.low;
}

inline void encode_bit(RangeEncoder& enc, uint16_t& prob, int bit) {
    encode_unnormalised(enc.low, enc.range, prob, bit);
    while (enc.range < kRangeTop) {
        enc.range <<= 8;
        shift_low_of(enc, enc.low);
    }
}

inline void encode_tree(RangeEncoder& enc, uint16_t* probs, int n, uint32_t value) {
    uint32_t node = 1;
    for (int i = n - 1; i >= 0; --i) {
        const int bit = (value >> i) & 1;
        encode_bit(enc, probs[node], bit);
        node = 2 * node + bit;
    }
}

// An encoder's state held in locals for a run of decisions (a residue vector), as LocalDecoder: the
// models the loop stores into cannot alias it, so it stays in registers. Encodes exactly as encode_bit
// on the encoder it was made from; store() must be called before that encoder is used again.
struct LocalEncoder {
    uint64_t low;
    uint32_t range;
    RangeEncoder* home;

    [[gnu::always_inline]] explicit LocalEncoder(RangeEncoder& enc)
        : low(enc.low), range(enc.range), home(&enc) {}

    [[gnu::always_inline]] void store() const {
        home->low = low;
        home->range = range;
    }

    [[gnu::always_inline]] void bit(uint16_t& prob, int bit) {
        encode_unnormalised(low, range, prob, bit);
        while (range < kRangeTop) {
            range <<= 8;
            shift_low_of(*home, low);
        }
    }

    [[gnu::always_inline]] void tree(uint16_t* probs, int n, uint32_t value) {
        uint32_t node = 1;
#pragma GCC unroll 8
        for (int i = n - 1; i >= 0; --i) {
            const int b = (value >> i) & 1;
            bit(probs[node], b);
            node = 2 * node + static_cast<uint32_t>(b);
        }
    }
};
