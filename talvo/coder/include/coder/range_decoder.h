#pragma once

#include <cstdint>

// Where a streamed sub-stream takes its further bytes from (the archive reader). Kept as two plain
// callbacks so the coder does not depend on the reader's threading.
struct ByteSource {
    void* context;
    bool (*is_exhausted)(void* context);
    int32_t (*read_bytes)(void* context, uint8_t* dst, int32_t n); // bytes copied
};

// A model entry holds the probability that the next bit is 0, in units of 1/65536, starting at one half
// (0x8000). It is stored XOR 0x8000, so that one half is stored as zero: fresh zero pages from the system
// are models in their initial state, and a large model area costs only the pages a stream touches.
constexpr uint16_t kProbHalf = 0x8000;
constexpr uint16_t kProbInit = 0; // one half, as stored
constexpr int kProbBits = 16;     // a probability's precision, the range's split
constexpr uint32_t kProbMax = 0xFFFFu;
constexpr int kProbShift = 6; // adaptation: 1/64 of the distance to certainty
// Both coders shift a byte out or in whenever the range falls below this.
constexpr uint32_t kRangeTop = 1u << 24;

// The probability a stored entry stands for, and the entry that stores a probability.
constexpr uint32_t probability_of(uint16_t stored) {
    return stored ^ uint32_t { kProbHalf };
}
constexpr uint16_t stored_probability(uint32_t probability) {
    return static_cast<uint16_t>(probability ^ kProbHalf);
}

// The bit-coding kernel that the decoder and the encoder, each in a plain and a local-state form,
// share: the range's split at a model's probability, and the model's adaptation to the bit coded.
constexpr uint32_t range_split(uint32_t range, uint32_t probability) {
    return (range >> kProbBits) * probability;
}
// Both move the stored entry itself: storing XOR 0x8000 is adding 0x8000 modulo 2^16, so the step is
// the same in either form, and the adapted probability stays within 0 .. kProbMax. A 0 moves the
// probability up by 1/64 of kProbMax - p, which is p with all its bits flipped: taken from the stored
// entry with one flip, it costs an operation less on the path of every 0.
constexpr uint16_t adapted_to_zero(uint16_t stored) {
    return static_cast<uint16_t>(stored + ((stored ^ (kProbMax ^ kProbHalf)) >> kProbShift));
}
constexpr uint16_t adapted_to_one(uint16_t stored, uint32_t probability) {
    return static_cast<uint16_t>(stored - (probability >> kProbShift));
}
constexpr bool adapting_moves_the_probability() {
    for (uint32_t p = 0; p <= kProbMax; ++p)
        if (adapted_to_zero(stored_probability(p)) != stored_probability(p + (kProbMax - p) / 64) ||
            adapted_to_one(stored_probability(p), p) != stored_probability(p - p / 64))
            return false;
    return true;
}
static_assert(kProbShift == 6 && adapting_moves_the_probability(),
              "adapting the stored entry is adapting the probability");

// One decision from a normalised decoder state (range at least kRangeTop).
[[gnu::always_inline]] inline int decode_normalised(uint32_t& code, uint32_t& range, uint16_t& prob) {
    const uint16_t stored = prob;
    const uint32_t p = probability_of(stored);
    const uint32_t bound = range_split(range, p);
    if (code < bound) {
        range = bound;
        prob = adapted_to_zero(stored);
        return 0;
    }
    code -= bound;
    range -= bound;
    prob = adapted_to_one(stored, p);
    return 1;
}

struct RangeDecoder {
    uint32_t code = 0;
    uint32_t range = 0;
    const uint8_t* cursor = nullptr;
    uint8_t* buffer_start = nullptr;
    const uint8_t* buffer_end = nullptr;
    ByteSource* source = nullptr; // none for an in-memory sub-stream
    int32_t remaining = 0;        // bytes of the sub-stream not yet consumed, buffer included
    bool used_up = false;         // the last byte has been shifted in
    int32_t overrun = 0;          // bytes shifted in again after that (a valid archive needs none)
};

// The encoder's flush writes out every bit it coded, so decoding a valid sub-stream never shifts in a
// byte past its end. A decoder that has gone further than this has been reading garbage: the archive
// is corrupt, and whatever loop drives the decoder must stop instead of decoding the same byte forever.
constexpr int32_t kDecoderOverrunLimit = 4;

inline bool decoder_overran(const RangeDecoder& dec) {
    return dec.overrun > kDecoderOverrunLimit;
}

// In-memory sub-stream of `length` bytes; the bytes must outlive the decoder.
void init_decoder(RangeDecoder& dec, const uint8_t* bytes, int32_t length);

// Streamed sub-stream of `length` bytes taken from `source` through `buffer` (`buffer_size` bytes).
void init_streamed_decoder(RangeDecoder& dec, ByteSource* source, uint8_t* buffer, int32_t buffer_size,
                           int32_t length);

// Buffer used up: advances to the next chunk, or stays on the last byte when the sub-stream is over.
void advance_decoder_buffer(RangeDecoder& dec);

inline void decoder_shift_in(RangeDecoder& dec) {
    dec.code = (dec.code << 8) | *dec.cursor;
    dec.range <<= 8;
    if (dec.cursor + 1 < dec.buffer_end)
        ++dec.cursor;
    else
        advance_decoder_buffer(dec);
}

inline int decode_bit(RangeDecoder& dec, uint16_t& prob) {
    while (dec.range < kRangeTop)
        decoder_shift_in(dec);
    return decode_normalised(dec.code, dec.range, prob);
}

// A decoder's state held in locals for a run of decisions (a residue vector): what the loop stores into
// models or output cannot alias it, so the compiler keeps it in registers instead of reloading it
// around every bit. Decodes exactly as decode_bit on the decoder it was made from; store() must be
// called before that decoder is used again.
struct LocalDecoder {
    uint32_t code;
    uint32_t range;
    const uint8_t* cursor;
    const uint8_t* buffer_end;
    RangeDecoder* home;

    [[gnu::always_inline]] explicit LocalDecoder(RangeDecoder& dec)
        : code(dec.code), range(dec.range), cursor(dec.cursor), buffer_end(dec.buffer_end), home(&dec) {}

    [[gnu::always_inline]] void store() const {
        home->code = code;
        home->range = range;
        home->cursor = cursor;
    }

    [[gnu::always_inline]] void normalise() {
        do {
            code = (code << 8) | *cursor;
            range <<= 8;
            if (cursor + 1 < buffer_end) {
                ++cursor;
            } else {
                home->cursor = cursor;
                advance_decoder_buffer(*home);
                cursor = home->cursor;
                buffer_end = home->buffer_end;
            }
        } while (range < kRangeTop);
    }

    [[gnu::always_inline]] int bit(uint16_t& prob) {
        if (range < kRangeTop) normalise();
        return decode_normalised(code, range, prob);
    }

    [[gnu::always_inline]] uint32_t tree(uint16_t* probs, int n) {
        uint32_t node = 1;
        // The callers' depths are constants: unrolled, the loop's exit is not a branch to predict.
#pragma GCC unroll 8
        for (int i = 0; i < n; ++i)
            node = 2 * node + static_cast<uint32_t>(bit(probs[node]));
        return node - (1u << n);
    }
};

// Bit tree over probs[1 .. 2^n - 1], most significant bit first.
inline uint32_t decode_tree(RangeDecoder& dec, uint16_t* probs, int n) {
    uint32_t node = 1;
    for (int i = 0; i < n; ++i)
        node = 2 * node + decode_bit(dec, probs[node]);
    return node - (1u << n);
}
