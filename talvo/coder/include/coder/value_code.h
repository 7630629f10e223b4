#pragma once

// The value code, written once for both directions (see coder/bit_direction.h).
//
// A coded value is a signed or unsigned difference ("delta"): a zero flag, for signed shapes a sign,
// a class k from a B-bit tree chosen by the previous class, and k mantissa bits below the leading one.
// A predictor then adds the model's previous value. A shape is fixed at compile time:
//
//   ValueShape<B, H, Signed, SignBits>
//     B        class-tree bits (2..5); the largest magnitude is 2^(2^B) - 1
//     H        mantissa context: 0 = one probability for every bit ("single"), else the first H bits
//              walk a tree and later bits stay on the node reached (history 1, 3 or 5)
//     Signed   whether a sign is coded; SignBits is the width of its history (1 or 2)
//
// Whether the mantissa has one table per class is a run-time flag, because two coders take it as an
// argument; the table size then follows from H (2^(H+1), or 2 for single).
//
// Unpacking:  delta = code_delta<Shape>(dir, model, per_class, 0);
// Packing:    code_delta<Shape>(dir, model, per_class, known_delta) codes known_delta and returns it.
// Both then apply the same predictor with apply_predictor(). choose_delta() is the packing helper that
// finds the delta for a field value read from the original packet.

#include "coder/value_model.h"

#include <cstdint>

template <int B, int H, bool Signed, int SignBits = 1> struct ValueShape {
    static_assert(B >= 2 && B <= 5, "class trees have 2 to 5 bits");
    static_assert(H == 0 || H == 1 || H == 3 || H == 5, "mantissa history is single, 1, 3 or 5");
    static_assert(SignBits == 1 || SignBits == 2, "sign history has 1 or 2 bits");
    static constexpr int class_bits = B;
    static constexpr int history = H;
    static constexpr bool is_signed = Signed;
    static constexpr int sign_bits = SignBits;
    static constexpr int table_size = H == 0 ? 2 : (2 << H);
    static constexpr uint32_t max_magnitude = B == 5 ? 0xFFFFFFFFu : (1u << (1u << B)) - 1u;
};

inline uint32_t magnitude_of(int32_t delta) {
    return delta < 0 ? 0u - static_cast<uint32_t>(delta) : static_cast<uint32_t>(delta);
}

inline int class_of(uint32_t magnitude) { // floor(log2(magnitude)), magnitude > 0
    return 31 - __builtin_clz(magnitude);
}

// Codes one delta. For unsigned shapes the delta is a magnitude (its 32 bits taken as unsigned).
template <class Shape, class Dir>
inline int32_t code_delta(Dir& d, ValueModel& m, bool per_class, int32_t known) {
    uint16_t* const p = m.probs;
    uint32_t magnitude = 0;
    int sign = 0;
    if constexpr (Dir::packing) {
        if (Shape::is_signed && known < 0) {
            sign = 1;
            magnitude = magnitude_of(known);
        } else {
            magnitude = static_cast<uint32_t>(known);
        }
    }
    const int nonzero = d.bit(p[kValueZeroFlagProbs + m.zero_history], magnitude != 0);
    m.zero_history = static_cast<uint8_t>(((m.zero_history << 1) | nonzero) & 3);
    if (!nonzero) {
        m.last_class = 0;
        return 0;
    }
    if constexpr (Shape::is_signed) {
        sign = d.bit(p[kValueSignProbs + m.sign_history], sign);
        m.sign_history = Shape::sign_bits == 2 ? static_cast<uint8_t>(((m.sign_history << 1) | sign) & 3)
                                               : static_cast<uint8_t>(sign);
    }
    int k = 0;
    if constexpr (Dir::packing) k = class_of(magnitude);
    k = static_cast<int>(d.tree(p + kValueClassTreeProbs + m.last_class * (1 << Shape::class_bits),
                                Shape::class_bits, static_cast<uint32_t>(k)));
    uint16_t* const mp = p + kValueMantissaProbs + (per_class ? k * Shape::table_size : 0);
    uint32_t value = 1;
    int node = 1;
    for (int i = k - 1; i >= 0; --i) {
        const int bit = d.bit(mp[node], static_cast<int>((magnitude >> i) & 1u));
        value = (value << 1) | static_cast<uint32_t>(bit);
        if constexpr (Shape::history > 0) {
            if (node < (1 << Shape::history)) node = 2 * node + bit;
        }
    }
    m.last_class = static_cast<uint8_t>(k + 1);
    return static_cast<int32_t>(sign ? 0u - value : value);
}

// Order 0 returns the delta itself; order 1 adds the last value; order 2 first moves the last delta.
// All arithmetic wraps at 32 bits.
inline int32_t apply_predictor(ValueModel& m, int order, int32_t delta) {
    if (order == 1) {
        m.last_value =
            static_cast<int32_t>(static_cast<uint32_t>(m.last_value) + static_cast<uint32_t>(delta));
        return m.last_value;
    }
    if (order == 2) {
        m.last_delta =
            static_cast<int32_t>(static_cast<uint32_t>(m.last_delta) + static_cast<uint32_t>(delta));
        m.last_value =
            static_cast<int32_t>(static_cast<uint32_t>(m.last_value) + static_cast<uint32_t>(m.last_delta));
        return m.last_value;
    }
    return delta;
}

inline uint32_t predicted_value(const ValueModel& m, int order) {
    if (order == 1) return static_cast<uint32_t>(m.last_value);
    if (order == 2) return static_cast<uint32_t>(m.last_value) + static_cast<uint32_t>(m.last_delta);
    return 0;
}

// Packing: the delta that makes the written n-bit field equal `field`. The first choice makes the
// returned value equal the field exactly, so the caller's parse of the header is the same in both
// directions; where that delta is beyond the shape's reach, the delta of least magnitude that gives the
// same low n bits is taken. False when no delta the shape can carry writes the field.
template <class Shape>
bool choose_delta(const ValueModel& m, int order, uint32_t field, int n_bits, int32_t& delta) {
    if (n_bits <= 0) {
        delta = 0;
        return true;
    }
    const uint32_t mask = n_bits >= 32 ? 0xFFFFFFFFu : (1u << n_bits) - 1u;
    field &= mask;
    if (!Shape::is_signed) { // unsigned shapes have no predictor
        delta = static_cast<int32_t>(field);
        return field <= Shape::max_magnitude;
    }
    const uint32_t pred = predicted_value(m, order);
    const int32_t exact = static_cast<int32_t>(field - pred);
    if (magnitude_of(exact) <= Shape::max_magnitude) {
        delta = exact;
        return true;
    }
    const uint32_t low = (field - pred) & mask; // 0 .. 2^n - 1
    const int64_t up = static_cast<int64_t>(low);
    const int64_t down = static_cast<int64_t>(low) - (static_cast<int64_t>(1) << n_bits);
    const int64_t best = up <= -down ? up : down;
    const uint64_t best_mag = static_cast<uint64_t>(best < 0 ? -best : best);
    if (best_mag > Shape::max_magnitude) return false;
    delta = static_cast<int32_t>(best);
    return true;
}

// Packing: the delta that makes the returned value equal `value` (decode-only coders, whose value is
// not a field of the packet). False when the shape cannot carry it.
template <class Shape> bool delta_for_value(const ValueModel& m, int order, int32_t value, int32_t& delta) {
    const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(value) - predicted_value(m, order));
    const uint32_t mag = Shape::is_signed ? magnitude_of(d) : static_cast<uint32_t>(d);
    if (mag > Shape::max_magnitude) return false;
    delta = d;
    return true;
}
