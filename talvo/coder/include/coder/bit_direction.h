#pragma once

// One model, two directions. Every modelling routine is a template over a direction:
//   Unpacking: each decision comes from the range decoder; `known` is ignored.
//   Packing:   each decision is known (read from the original Ogg data) and goes into the encoder.
// Both return the decision, so the routine after the call is the same code either way.

#include "coder/range_decoder.h"
#include "coder/range_encoder.h"

struct Unpacking {
    static constexpr bool packing = false;
    RangeDecoder* rc;
    int bit(uint16_t& prob, int /*known*/) { return decode_bit(*rc, prob); }
    uint32_t tree(uint16_t* probs, int n, uint32_t /*known*/) { return decode_tree(*rc, probs, n); }
    // The sub-stream is used up and garbage is coming in (decoder_overran): loops driven by these
    // decisions stop here.
    bool overran() const { return decoder_overran(*rc); }
};

struct Packing {
    static constexpr bool packing = true;
    RangeEncoder* rc;
    int bit(uint16_t& prob, int known) {
        encode_bit(*rc, prob, known);
        return known;
    }
    uint32_t tree(uint16_t* probs, int n, uint32_t known) {
        encode_tree(*rc, probs, n, known);
        return known;
    }
    bool overran() const { return false; }
};

// A direction's coder held in locals (LocalDecoder, LocalEncoder) for a run of decisions: a residue
// partition, a floor's values. Stores into bytes (residue memory, class memory) may alias anything and
// would otherwise make the compiler reload and store the coder's state around every decision. finish()
// hands the state back before the direction's own coder is used again.
template <class Dir> struct LocalBits;

template <> struct LocalBits<Packing> {
    LocalEncoder enc;
    [[gnu::always_inline]] explicit LocalBits(Packing& dir) : enc(*dir.rc) {}
    [[gnu::always_inline]] int bit(uint16_t& prob, int known) {
        enc.bit(prob, known);
        return known;
    }
    [[gnu::always_inline]] uint32_t tree(uint16_t* probs, int n, uint32_t known) {
        enc.tree(probs, n, known);
        return known;
    }
    [[gnu::always_inline]] void finish() { enc.store(); }
};

template <> struct LocalBits<Unpacking> {
    LocalDecoder dec;
    [[gnu::always_inline]] explicit LocalBits(Unpacking& dir) : dec(*dir.rc) {}
    [[gnu::always_inline]] int bit(uint16_t& prob, int /*known*/) { return dec.bit(prob); }
    [[gnu::always_inline]] uint32_t tree(uint16_t* probs, int n, uint32_t /*known*/) {
        return dec.tree(probs, n);
    }
    [[gnu::always_inline]] void finish() { dec.store(); }
};
