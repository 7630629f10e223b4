#include "vorbis/audio_packet.h"

#include "coder/bit_direction.h"
#include "coder/value_code.h"
#include "ogg/bit_io.h"
#include "vorbis/floor1_codec.h"
#include "vorbis/packet_tail.h"
#include "vorbis/residue_codec.h"

#include <array>

namespace {

// The cut codeword's bit count and bits: no sign, no predictor; one mantissa probability per class for
// the count, a history-1 mantissa per class for the bits.
using TruncatedBitsShape = ValueShape<3, 0, false>;
using TruncatedCodeShape = ValueShape<3, 1, false>;

} // namespace

template <class Dir> void code_truncation(Dir& aux, VorbisContext& ctx, bool decision_applies) {
    ValueModel& bits_model = (*ctx.models)[kModelTruncatedBits];
    ValueModel& code_model = (*ctx.models)[kModelTruncatedCode];
    // Like every other value code, both models move their zero history after each value.
    const int32_t bits = code_delta<TruncatedBitsShape>(aux, bits_model, true, ctx.truncated_bits);
    ctx.truncated_bits = bits;
    ctx.truncated_code = bits ? code_delta<TruncatedCodeShape>(aux, code_model, true, ctx.truncated_code) : 0;
    if (decision_applies) {
        ctx.truncation_seen = static_cast<uint8_t>(aux.bit(ctx.packet_probs[kTruncationProb], 0));
        if (ctx.truncation_seen) ctx.packet_ends_here = 1;
    }
}

template <class Dir> int code_mode_number(Dir& page, VorbisContext& ctx) {
    VorbisSetup& setup = *ctx.setup;
    if constexpr (Dir::packing) {
        if (take_bits(ctx, 1) != 0) {
            fail_stream<Dir>(ctx);
            return -1;
        }
    } else {
        ctx.bit_pos += 1; // the cleared first bit is the audio packet type
    }
    int mode = 0;
    if (setup.mode_bits > 0) {
        uint32_t known = 0;
        if constexpr (Dir::packing) known = take_bits(ctx, setup.mode_bits);
        const int context = (ctx.header_type & 1) + 2 * ctx.last_mode_low_bit + 4 * ctx.last_next_window;
        mode = static_cast<int>(
            page.tree(ctx.packet_probs + kModeTreeProbs + kModeTreeStride * context, setup.mode_bits, known));
        if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(mode), setup.mode_bits);
    }
    if (mode >= setup.mode_count) {
        fail_stream<Dir>(ctx);
        return -1;
    }
    ctx.last_mode_low_bit = static_cast<uint8_t>(mode & 1);
    const Mode& m = setup.modes[static_cast<size_t>(mode)];
    ctx.granule_estimate += setup.blocksize[m.blockflag] >> 1;
    if (m.blockflag) {
        uint32_t known_previous = 0, known_next = 0;
        if constexpr (Dir::packing) known_previous = take_bits(ctx, 1);
        const int previous = page.bit(ctx.packet_probs[kPreviousWindowProbs + ctx.last_next_window],
                                      static_cast<int>(known_previous));
        if constexpr (Dir::packing)
            known_next = take_bits(ctx, 1);
        else
            write_bits(ctx, static_cast<uint32_t>(previous), 1);
        const int next = page.bit(ctx.packet_probs[kNextWindowProbs + ctx.last_previous_window],
                                  static_cast<int>(known_next));
        if constexpr (!Dir::packing) write_bits(ctx, static_cast<uint32_t>(next), 1);
        ctx.last_previous_window = static_cast<uint8_t>(previous);
        ctx.last_next_window = static_cast<uint8_t>(next);
    } else {
        ctx.last_previous_window = 0;
        ctx.last_next_window = 0;
    }
    return mode;
}

template <class Dir> bool code_audio_packet(Dir& data, Dir& aux, VorbisContext& ctx, const Mode& mode) {
    VorbisSetup& setup = *ctx.setup;
    const bool decision_applies = !ctx.last_packet_complete && ctx.packet_index >= ctx.packet_count;
    if constexpr (Dir::packing) {
        // The cut codeword is found while the packet is read; its fields go to the auxiliary coder
        // afterwards, which keeps the order of that coder's own decisions.
        setup.packet_cut_decided = false;
        ctx.truncated_bits = 0;
        ctx.truncated_code = 0;
        ctx.truncation_seen = 0;
    } else {
        code_truncation(aux, ctx, decision_applies);
        // A cut codeword is at most 32 bits long (packing finds at most 24).
        if (ctx.truncated_bits > kMaxCodewordLength) return false;
    }

    const Mapping& mapping = setup.mappings[mode.mapping];
    const int32_t n = setup.blocksize[mode.blockflag] / 2;
    std::array<int32_t, kMaxChannels> no_floor{};
    if (!code_floor1(data, ctx, mapping, no_floor.data())) return false;
    for (int k = 0; k < mapping.coupling_steps; ++k) {
        const MappingChannel& step = mapping.channel[static_cast<size_t>(k)];
        if (!no_floor[step.magnitude] || !no_floor[step.angle])
            no_floor[step.magnitude] = no_floor[step.angle] = 0;
    }
    for (int s = 0; s < mapping.submaps; ++s) {
        std::array<uint8_t, kMaxChannels> do_not_decode{};
        int ch = 0;
        for (int c = 0; c < setup.channels; ++c)
            if (mapping.channel[static_cast<size_t>(c)].mux == s)
                do_not_decode[static_cast<size_t>(ch++)] =
                    static_cast<uint8_t>(no_floor[static_cast<size_t>(c)]);
        if (code_residue(data, ctx, ch, n, mapping.submap_residue[s], do_not_decode.data()) ==
            kResidueRefused)
            return false;
    }
    if (!finish_packet(data, ctx)) return false;
    if constexpr (Dir::packing) {
        // What the auxiliary fields can carry: the class trees reach 255.
        if (ctx.truncated_bits > 255 || ctx.truncated_code > 255 || ctx.truncated_code < 0)
            return fail_stream<Dir>(ctx);
        code_truncation(aux, ctx, decision_applies);
    }
    return !ctx.inexpressible;
}

template void code_truncation<Unpacking>(Unpacking&, VorbisContext&, bool);
template void code_truncation<Packing>(Packing&, VorbisContext&, bool);
template int code_mode_number<Unpacking>(Unpacking&, VorbisContext&);
template int code_mode_number<Packing>(Packing&, VorbisContext&);
template bool code_audio_packet<Unpacking>(Unpacking&, Unpacking&, VorbisContext&, const Mode&);
template bool code_audio_packet<Packing>(Packing&, Packing&, VorbisContext&, const Mode&);
