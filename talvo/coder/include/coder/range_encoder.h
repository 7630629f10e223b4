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

inline void encode_bit(RangeEncoder& enc, uint16_t& prob, int bit) {
    const uint32_t bound = (enc.range >> 16) * prob;
    if (bit == 0) {
        enc.range = bound;
        prob = static_cast<uint16_t>(prob + ((0xFFFFu - prob) >> kProbShift));
    } else {
        enc.low += bound;
        enc.range -= bound;
        prob = static_cast<uint16_t>(prob - (prob >> kProbShift));
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
