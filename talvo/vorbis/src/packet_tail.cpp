#include "vorbis/packet_tail.h"

#include "coder/bit_direction.h"
#include "ogg/bit_io.h"
#include "vorbis/vorbis_setup.h"

#include <vector>

namespace {

template <class Dir> bool consume_replayed_tail(VorbisContext& ctx) {
    VorbisSetup& setup = *ctx.setup;
    ctx.bit_count = ctx.bit_count < 0 ? ctx.bit_count : 0; // drop the bits up to the byte boundary
    if (ctx.bit_count < 0) return true;
    for (int32_t n = 0;; ++n) {
        const int32_t byte = read_aligned_byte<Dir>(ctx);
        if (byte < 0) return true;
        // A replayed tail beyond the scratch area is refused rather than written past it.
        if (n >= kPacketScratchBytes || static_cast<size_t>(n) >= setup.packet_scratch.size()) return false;
        setup.packet_scratch[static_cast<size_t>(n)] = static_cast<uint8_t>(byte);
    }
}

} // namespace

template <class Dir> bool finish_packet(Dir& d, VorbisContext& ctx) {
    if (ctx.mode == CodingMode::Replay) return consume_replayed_tail<Dir>(ctx);
    if (ctx.bit_pos > 0) {
        const bool moved = enter_next_byte<Dir>(ctx);
        ctx.bit_pos = 0;
        if (!moved) return true;
    }
    // No byte left. Besides a failed move, this is a move that landed past the packet's last byte:
    // every one-byte packet, whose only lacing value is taken by the move out of its only byte. Such a
    // packet has no tail: nothing is coded and nothing is stored past it.
    if (ctx.packet_remaining < 0) return true;
    uint16_t* const probs = ctx.packet_probs;
    if constexpr (Dir::packing) {
        std::vector<uint8_t> tail;
        do
            tail.push_back(static_cast<uint8_t>(original_byte(ctx)));
        while (enter_next_byte<Dir>(ctx));
        bool all_zero = true;
        for (uint8_t b : tail)
            all_zero = all_zero && b == 0;
        if (d.bit(probs[kTailFlagProb], all_zero ? 1 : 0)) return true;
        uint32_t previous = 0;
        for (uint8_t b : tail) {
            d.tree(probs + kTailTreeProbs + kTailTreeStride * (previous >> 4), 8, b);
            previous = b;
        }
    } else {
        if (d.bit(probs[kTailFlagProb], 0)) {
            do
                *ctx.out_cursor = 0;
            while (enter_next_byte<Dir>(ctx));
            return true;
        }
        uint32_t previous = 0;
        do {
            previous = d.tree(probs + kTailTreeProbs + kTailTreeStride * (previous >> 4), 8, 0);
            *ctx.out_cursor = static_cast<uint8_t>(previous);
        } while (enter_next_byte<Dir>(ctx));
    }
    return true;
}

template bool finish_packet<Unpacking>(Unpacking&, VorbisContext&);
template bool finish_packet<Packing>(Packing&, VorbisContext&);
