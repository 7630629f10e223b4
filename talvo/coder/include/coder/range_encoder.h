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

// Benchmarks only: while set, every decision the encoders code is appended here as its bit (bit 16)
// and its probability's address folded to 16 bits, so the decisions of a real restore can be replayed
// through decode_bit alone. Single-threaded use; null in the programs.
extern std::vector<uint32_t>* g_decision_trace;

void init_encoder(RangeEncoder& enc);
void encoder_shift_low(RangeEncoder& enc);
// Writes out everything still held, so a decoder over `out` decodes every bit that was encoded.
void flush_encoder(RangeEncoder& enc);

inline void trace_decision(const uint16_t& prob, int bit) {
    g_decision_trace->push_back(static_cast<uint32_t>(bit) << 16 |
                                static_cast<uint32_t>((reinterpret_cast<uintptr_t>(&prob) >> 1) & 0xFFFF));
}

inline void encode_bit(RangeEncoder& enc, uint16_t& prob, int bit) {
    if (g_decision_trace) [[unlikely]]
        trace_decision(prob, bit);
    const uint32_t p = probability_of(prob);
    const uint32_t bound = (enc.range >> 16) * p;
    if (bit == 0) {
        enc.range = bound;
        prob = stored_probability(p + ((0xFFFFu - p) >> kProbShift));
    } else {
        enc.low += bound;
        enc.range -= bound;
        prob = stored_probability(p - (p >> kProbShift));
    }
    while (enc.range < (1u << 24)) {
        enc.range <<= 8;
        encoder_shift_low(enc);
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
    bool tracing;
    RangeEncoder* home;

    explicit LocalEncoder(RangeEncoder& enc)
        : low(enc.low), range(enc.range), tracing(g_decision_trace != nullptr), home(&enc) {}

    void store() const {
        home->low = low;
        home->range = range;
    }

    void bit(uint16_t& prob, int bit) {
        if (tracing) [[unlikely]]
            trace_decision(prob, bit);
        const uint32_t p = probability_of(prob);
        const uint32_t bound = (range >> 16) * p;
        if (bit == 0) {
            range = bound;
            prob = stored_probability(p + ((0xFFFFu - p) >> kProbShift));
        } else {
            low += bound;
            range -= bound;
            prob = stored_probability(p - (p >> kProbShift));
        }
        while (range < (1u << 24)) {
            range <<= 8;
            home->low = low;
            encoder_shift_low(*home);
            low = home->low;
        }
    }

    void tree(uint16_t* probs, int n, uint32_t value) {
        uint32_t node = 1;
        for (int i = n - 1; i >= 0; --i) {
            const int b = (value >> i) & 1;
            bit(probs[node], b);
            node = 2 * node + static_cast<uint32_t>(b);
        }
    }
};
