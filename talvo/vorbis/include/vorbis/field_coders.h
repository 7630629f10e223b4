#pragma once

// The field coders of the Vorbis headers, each written once for both directions.
//
// Every coder takes the direction object first: Unpacking{&ctx.data_decoder} when restoring,
// Packing{&data_encoder} when archiving (coder/bit_direction.h), then the StreamContext. The context's
// `mode` picks rebuild or replay (CodingMode):
//
//   Unpacking, rebuild: decode the value, update the model, write the field into the packet
//                       (write_bits, or at out_cursor for the byte-aligned coders), return the value.
//   Packing, rebuild:   read the field from the original packet at the same place (take_bits), encode
//                       the decisions that make the unpacker write exactly that field, update the model
//                       the same way, return the same value the unpacker returns. A field the shape
//                       cannot express sets ctx.inexpressible (the value returned is then meaningless).
//   Either, replay:     return the field's raw bits from the replay reader; nothing is coded, no model
//                       or probability changes, nothing is written.
//
// Example, the codebook dimensions (16-bit field):
//     Unpacking up{&ctx.data_decoder};
//     int32_t dims = code_value_c4m3s2(up, ctx, (*ctx.models)[kModelCodebookDimensions]);
// and the same line with a Packing object in the packer.
//
// The returned value is the full 32-bit predicted value, not the masked field. When packing, the delta
// is chosen so that the value equals the field read whenever the shape can carry that difference, so
// both directions parse the header alike.
//
// The unwritten coders (code_unwritten_c3m1, code_unwritten_c4m3) write nothing: the caller writes the
// value piecewise. When packing, the caller has already assembled the value and passes it as `known`.

#include "coder/bit_direction.h"
#include "coder/value_code.h"
#include "ogg/bit_io.h"
#include "ogg/stream_context.h"

#include <cmath>
#include <cstdint>

namespace field_detail {

template <class Shape, class Dir>
int32_t code_bit_field(Dir& d, StreamContext& ctx, int n_bits, ValueModel& m, bool per_class, int order) {
    if (ctx.mode == CodingMode::Replay) return static_cast<int32_t>(read_bits<Dir>(ctx, n_bits));
    int32_t delta = 0;
    if constexpr (Dir::packing) {
        const uint32_t field = take_bits(ctx, n_bits);
        if (!choose_delta<Shape>(m, order, field, n_bits, delta)) {
            ctx.inexpressible = true;
            delta = 0;
        }
    }
    delta = code_delta<Shape>(d, m, per_class, delta);
    const int32_t value = apply_predictor(m, order, delta);
    if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(value), n_bits);
    return value;
}

inline uint32_t replay_bytes_le(StreamContext& ctx, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= static_cast<uint32_t>(next_replay_byte(ctx)) << (8 * i);
    return v;
}

// Byte-aligned value fields: one byte, or a 32-bit little-endian word, at out_cursor.
template <class Shape, class Dir>
int32_t code_aligned_field(Dir& d, StreamContext& ctx, int n_bytes, ValueModel& m) {
    if (ctx.mode == CodingMode::Replay) return static_cast<int32_t>(replay_bytes_le(ctx, n_bytes));
    int32_t delta = 0;
    if constexpr (Dir::packing) {
        uint32_t field = 0;
        for (int i = 0; i < n_bytes; ++i)
            field |= transfer_aligned_byte<Dir>(ctx, 0) << (8 * i);
        if (!choose_delta<Shape>(m, 1, field, 8 * n_bytes, delta)) {
            ctx.inexpressible = true;
            delta = 0;
        }
    }
    delta = code_delta<Shape>(d, m, false, delta);
    const int32_t value = apply_predictor(m, 1, delta);
    if constexpr (!Dir::packing) {
        for (int i = 0; i < n_bytes; ++i)
            transfer_aligned_byte<Dir>(ctx, static_cast<uint32_t>(value) >> (8 * i));
    }
    return value;
}

template <class Shape, class Dir>
int32_t code_known_value(Dir& d, StreamContext& ctx, ValueModel& m, int order, int32_t known) {
    int32_t delta = 0;
    if constexpr (Dir::packing) {
        if (!delta_for_value<Shape>(m, order, known, delta)) {
            ctx.inexpressible = true;
            delta = 0;
        }
    }
    delta = code_delta<Shape>(d, m, false, delta);
    return apply_predictor(m, order, delta);
}

// Reads a field coded on its own root when packing; a value above `largest` cannot be coded.
template <class Dir> uint32_t root_field(StreamContext& ctx, int n_bits, uint32_t largest) {
    uint32_t field = 0;
    if constexpr (Dir::packing) {
        field = take_bits(ctx, n_bits);
        if (field > largest) {
            ctx.inexpressible = true;
            field &= largest;
        }
    }
    return field;
}

} // namespace field_detail

// Shapes of the value code: ValueShape<class bits, mantissa history (0 = single), signed, sign bits>.
using ShapeC3M3 = ValueShape<3, 3, true>;
using ShapeC3M1 = ValueShape<3, 1, true>;
using ShapeC2M0 = ValueShape<2, 0, true>;
using ShapeC2M1 = ValueShape<2, 1, true>;
using ShapeC4M3 = ValueShape<4, 3, true>;
using ShapeC4M3S2 = ValueShape<4, 3, true, 2>;
using ShapeC4P0 = ValueShape<4, 0, true>;
using ShapeCountC3P3 = ValueShape<3, 3, false>;
using ShapeCountC4P3 = ValueShape<4, 3, false>;
using ShapeCountC5P5 = ValueShape<5, 5, false>;
using ShapeC5M3 = ValueShape<5, 3, true>;
using ShapeFloatExponent = ValueShape<4, 1, true>;
using ShapeFloatMantissa = ValueShape<5, 5, true>;

// n_bits 0..32; order 0, 1 or 2.
template <class Dir>
int32_t code_value_c3m3(Dir& d, StreamContext& ctx, int n_bits, ValueModel& model, bool per_class_mantissa,
                        int order) {
    return field_detail::code_bit_field<ShapeC3M3>(d, ctx, n_bits, model, per_class_mantissa, order);
}
template <class Dir> int32_t code_value_c3m1(Dir& d, StreamContext& ctx, int n_bits, ValueModel& model) {
    return field_detail::code_bit_field<ShapeC3M1>(d, ctx, n_bits, model, false, 1);
}
template <class Dir> int32_t code_value_c2m0(Dir& d, StreamContext& ctx, int n_bits, ValueModel& model) {
    return field_detail::code_bit_field<ShapeC2M0>(d, ctx, n_bits, model, false, 1);
}
template <class Dir> int32_t code_value_c4m3(Dir& d, StreamContext& ctx, int n_bits, ValueModel& model) {
    return field_detail::code_bit_field<ShapeC4M3>(d, ctx, n_bits, model, false, 1);
}
template <class Dir> int32_t code_count_c4p3(Dir& d, StreamContext& ctx, int n_bits, ValueModel& model) {
    return field_detail::code_bit_field<ShapeCountC4P3>(d, ctx, n_bits, model, true, 0);
}
// 4-bit field.
template <class Dir>
int32_t code_value_c2m1(Dir& d, StreamContext& ctx, ValueModel& model, bool per_class_mantissa) {
    return field_detail::code_bit_field<ShapeC2M1>(d, ctx, 4, model, per_class_mantissa, 1);
}
// 16-bit field, two-bit sign history.
template <class Dir> int32_t code_value_c4m3s2(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_bit_field<ShapeC4M3S2>(d, ctx, 16, model, false, 1);
}
// 24-bit field, one mantissa probability per class.
template <class Dir> int32_t code_value_c4p0(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_bit_field<ShapeC4P0>(d, ctx, 24, model, true, 1);
}
// 5-bit unsigned field.
template <class Dir> int32_t code_count_c3p3(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_bit_field<ShapeCountC3P3>(d, ctx, 5, model, true, 0);
}
// 24-bit unsigned field.
template <class Dir> int32_t code_count_c5p5(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_bit_field<ShapeCountC5P5>(d, ctx, 24, model, true, 0);
}
// One byte at out_cursor.
template <class Dir> int32_t code_byte_c2m0(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_aligned_field<ShapeC2M0>(d, ctx, 1, model);
}
template <class Dir> int32_t code_byte_c3m3(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_aligned_field<ShapeC3M3>(d, ctx, 1, model);
}
// One 32-bit little-endian word at out_cursor.
template <class Dir> int32_t code_word_c5m3(Dir& d, StreamContext& ctx, ValueModel& model) {
    return field_detail::code_aligned_field<ShapeC5M3>(d, ctx, 4, model);
}
// Rebuild mode, nothing written (the caller writes the value piecewise); `known` is the value when packing.
template <class Dir>
int32_t code_unwritten_c3m1(Dir& d, StreamContext& ctx, ValueModel& model, int32_t known = 0) {
    return field_detail::code_known_value<ShapeC3M1>(d, ctx, model, 1, known);
}
template <class Dir>
int32_t code_unwritten_c4m3(Dir& d, StreamContext& ctx, ValueModel& model, int32_t known = 0) {
    return field_detail::code_known_value<ShapeC4M3>(d, ctx, model, 0, known);
}

// Header fields on their own entries of packet_probs (P), after a root (model_map.h) whose own entry is
// not used. One adaptive bit at P[root + 1], written as an n-bit field.
template <class Dir> int32_t code_flag_field(Dir& d, StreamContext& ctx, int root, int n_bits) {
    if (ctx.mode == CodingMode::Replay) return static_cast<int32_t>(read_bits<Dir>(ctx, n_bits));
    const uint32_t field = field_detail::root_field<Dir>(ctx, n_bits, 1);
    const int bit = d.bit(ctx.packet_probs[root + 1], static_cast<int>(field));
    if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(bit), n_bits);
    return bit;
}
// Two-level tree: P[root + 1], then P[root + 2 + first bit]; value 0..3 as an n-bit field.
template <class Dir> int32_t code_tree2_field(Dir& d, StreamContext& ctx, int root, int n_bits) {
    if (ctx.mode == CodingMode::Replay) return static_cast<int32_t>(read_bits<Dir>(ctx, n_bits));
    const uint32_t field = field_detail::root_field<Dir>(ctx, n_bits, 3);
    const int b1 = d.bit(ctx.packet_probs[root + 1], static_cast<int>(field >> 1));
    const int b0 = d.bit(ctx.packet_probs[root + 2 + b1], static_cast<int>(field & 1));
    const int v = 2 * b1 + b0;
    if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(v), n_bits);
    return v;
}

// A `levels`-level tree at P[root + 1 .. root + 2^levels - 1], written as a field of as many bits.
template <class Dir> int32_t code_tree_field(Dir& d, StreamContext& ctx, int root, int levels) {
    if (ctx.mode == CodingMode::Replay) return static_cast<int32_t>(read_bits<Dir>(ctx, levels));
    const uint32_t field = field_detail::root_field<Dir>(ctx, levels, (1u << levels) - 1);
    const uint32_t v = d.tree(ctx.packet_probs + root, levels, field);
    if constexpr (!Dir::packing) write_bits(ctx, v, levels);
    return static_cast<int32_t>(v);
}

// One byte at out_cursor from an 8-level tree at P[root + 1 .. root + 255]. Each byte counts against the
// current segment (segment_remaining), in both modes.
template <class Dir> int32_t code_text_byte(Dir& d, StreamContext& ctx, int root) {
    --ctx.segment_remaining;
    if (ctx.mode == CodingMode::Replay) return next_replay_byte(ctx);
    uint32_t byte = 0;
    if constexpr (Dir::packing) byte = transfer_aligned_byte<Dir>(ctx, 0);
    byte = d.tree(ctx.packet_probs + root, 8, byte);
    if constexpr (!Dir::packing) transfer_aligned_byte<Dir>(ctx, byte);
    return static_cast<int32_t>(byte);
}

// The float32 unpacking rule of Vorbis I: 21-bit mantissa, sign in bit 31, exponent biased by 788.
inline float unpack_float32(uint32_t word) {
    int32_t mantissa = static_cast<int32_t>(word & 0x1FFFFFu);
    if (word & 0x80000000u) mantissa = -mantissa;
    const int exponent = static_cast<int>((word >> 21) & 0x3FFu);
    return static_cast<float>(std::ldexp(static_cast<double>(static_cast<float>(mantissa)), exponent - 788));
}

// A codebook float (which: 0 = minimum value, 1 = delta value): sign at P[kFloatSignProbs + which],
// exponent under model kModelFloatExponent + which, mantissa under model kModelFloatMantissa, word = sign *
// 2^31 + exponent * 2^21 + mantissa (wrapping addition, so a mantissa of 2^21 or more carries into the
// exponent). Returns the unpacked float.
template <class Dir> float code_float_field(Dir& d, StreamContext& ctx, int which) {
    if (ctx.mode == CodingMode::Replay) return unpack_float32(read_bits<Dir>(ctx, 32));
    ModelArea& models = *ctx.models;
    ValueModel& em = models[kModelFloatExponent + which];
    ValueModel& mm = models[kModelFloatMantissa];
    uint32_t word = 0;
    int32_t e_delta = 0, m_delta = 0;
    if constexpr (Dir::packing) {
        word = take_bits(ctx, 32);
        const int32_t e_target = static_cast<int32_t>((word >> 21) & 0x3FFu);
        const int32_t m_target = static_cast<int32_t>(word & 0x1FFFFFu);
        if (!delta_for_value<ShapeFloatExponent>(em, 1, e_target, e_delta) ||
            !delta_for_value<ShapeFloatMantissa>(mm, 1, m_target, m_delta))
            ctx.inexpressible = true;
    }
    const int s = d.bit(ctx.packet_probs[kFloatSignProbs + which], static_cast<int>(word >> 31));
    const int32_t e = apply_predictor(em, 1, code_delta<ShapeFloatExponent>(d, em, false, e_delta));
    const int32_t m = apply_predictor(mm, 1, code_delta<ShapeFloatMantissa>(d, mm, false, m_delta));
    const uint32_t coded =
        (static_cast<uint32_t>(s) << 31) + (static_cast<uint32_t>(e) << 21) + static_cast<uint32_t>(m);
    if constexpr (Dir::packing) {
        if (coded != word) ctx.inexpressible = true;
    } else {
        write_bits(ctx, coded, 32);
    }
    return unpack_float32(coded);
}
