#include "ogg/bit_io.h"

#include "ogg/page_layer.h"

template <class Dir> bool enter_next_byte_slow(StreamContext& ctx) {
    const int v = ctx.packet_done ? 0 : next_lacing<Dir>(ctx);
    if (v == 0) {
        // Not one byte further on every later call: the cursor rests one past the packet.
        ctx.out_cursor = ctx.segment_end;
        return false;
    }
    ctx.segment_end += v;
    --ctx.segment_remaining;
    --ctx.packet_remaining;
    return true;
}

uint8_t next_replay_byte(StreamContext& ctx) {
    if (ctx.replay_cursor < ctx.replay_end || refill_replay(ctx)) return *ctx.replay_cursor++;
    ctx.input_ended = 1;
    return 0;
}

bool refill_replay(StreamContext& ctx) {
    const ReplayRefill& refill = ctx.replay_refill;
    const int32_t size = refill.next_page ? refill.next_page(refill.context, ctx.replay_storage) : 0;
    if (size < 1) return false;
    ctx.replay_cursor = ctx.replay_storage.data();
    ctx.replay_end = ctx.replay_cursor + size;
    return true;
}

namespace {

// One byte step of the replay reader; false at the packet's end.
template <class Dir> bool replay_take_byte(StreamContext& ctx, uint8_t& byte) {
    if (ctx.segment_remaining == 0) {
        const int v = ctx.packet_done ? 0 : next_lacing<Dir>(ctx);
        if (v == 0) return false;
    }
    --ctx.segment_remaining;
    ++ctx.packet_remaining;
    byte = next_replay_byte(ctx);
    return true;
}

} // namespace

template <class Dir> uint32_t read_bits(StreamContext& ctx, int n) {
    if (ctx.bit_count < 0) return 0;
    if (ctx.bit_count < n) {
        if (n > 24) {
            const uint32_t low = read_bits<Dir>(ctx, 24);
            const uint32_t high = read_bits<Dir>(ctx, n - 24);
            return low + (high << 24);
        }
        if (ctx.bit_count == 0) ctx.bit_buffer = 0;
        do {
            uint8_t byte = 0;
            if (!replay_take_byte<Dir>(ctx, byte)) {
                ctx.bit_count = -1;
                return 0;
            }
            ctx.bit_buffer += static_cast<uint32_t>(byte) << ctx.bit_count;
            ctx.bit_count += 8;
        } while (ctx.bit_count < n);
    }
    const uint32_t value = ctx.bit_buffer & low_bits_mask(n);
    ctx.bit_buffer = n >= 32 ? 0 : ctx.bit_buffer >> n;
    ctx.bit_count -= n;
    return value;
}

template <class Dir> int32_t read_aligned_byte(StreamContext& ctx) {
    uint8_t byte = 0;
    if (!replay_take_byte<Dir>(ctx, byte)) return -1;
    ctx.bit_count = 0;
    return byte;
}

template bool enter_next_byte_slow<Unpacking>(StreamContext&);
template bool enter_next_byte_slow<Packing>(StreamContext&);
template uint32_t read_bits<Unpacking>(StreamContext&, int);
template uint32_t read_bits<Packing>(StreamContext&, int);
template int32_t read_aligned_byte<Unpacking>(StreamContext&);
template int32_t read_aligned_byte<Packing>(StreamContext&);
