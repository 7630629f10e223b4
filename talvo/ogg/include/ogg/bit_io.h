#pragma once

// Packet bit I/O over the page being built (unpacking) or modelled (packing), and the replay reader.
// Whatever moves from one byte of a packet to the next may reach a segment boundary and so start a page:
// those calls take the direction as a template argument (Unpacking or Packing, coder/bit_direction.h).
//
// Unpacking, rebuild mode: write_bits(ctx, value, n) appends the low n bits of value to the packet,
//   least significant bit first. At each segment boundary it asks the page layer for the next lacing
//   value, which may finish the page and open the next one. Past the packet's last byte the bits are
//   dropped and bit_pos stays where it was.
// Packing, rebuild mode: take_bits(ctx, n) returns the n bits that write_bits would have written at this
//   point of the original packet, moving through exactly the same bytes, segments and pages. Bits that
//   write_bits would drop read as 0.
// Either direction, replay mode: read_bits<Dir>(ctx, n) returns the next n bits of the replayed packet
//   (0 once it is exhausted; bit_count is then -1), read_aligned_byte<Dir>(ctx) the next whole byte (-1
//   at the end).

#include "coder/bit_direction.h"
#include "ogg/stream_context.h"

#include <cstdint>

// Moves the cursor to the next byte of the packet, taking the next lacing value (and page) when the
// current segment is used up. False when the packet has no further byte: out_cursor then rests one past
// the packet's last byte, also on every later call.
template <class Dir> bool enter_next_byte_slow(StreamContext& ctx);

template <class Dir> inline bool enter_next_byte(StreamContext& ctx) {
    ++ctx.out_cursor;
    if (ctx.out_cursor >= ctx.segment_end) return enter_next_byte_slow<Dir>(ctx);
    --ctx.segment_remaining;
    --ctx.packet_remaining;
    return true;
}

inline uint32_t low_bits_mask(int n) {
    return n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u;
}

// Up to 24 bits while four bytes of the current segment lie ahead: one store of the byte under the
// cursor and the three after it, and the cursor moved by as many bytes as the bit by bit way would
// enter (never onto a byte it would not, so a byte that ends full stays the cursor's, as below). The
// bytes past the new cursor are written with zeros; every writer assigns a byte it enters.
[[gnu::always_inline]] inline bool write_bits_within_segment(StreamContext& ctx, uint32_t value, int n) {
    uint8_t* const p = ctx.out_cursor;
    if (static_cast<unsigned>(n - 1) >= 24u || ctx.segment_end - p < 4) return false;
    const int total = ctx.bit_pos + n; // 1 .. 32
    const uint32_t word = *p | (value & low_bits_mask(n)) << ctx.bit_pos;
    p[0] = static_cast<uint8_t>(word);
    p[1] = static_cast<uint8_t>(word >> 8);
    p[2] = static_cast<uint8_t>(word >> 16);
    p[3] = static_cast<uint8_t>(word >> 24);
    const int entered = (total - 1) >> 3;
    ctx.out_cursor = p + entered;
    ctx.segment_remaining -= entered;
    ctx.packet_remaining -= entered;
    ctx.bit_pos = total - 8 * entered;
    return true;
}

// Any count of bits, byte by byte, entering each next byte as the packet reaches it.
inline void write_bits_bytewise(StreamContext& ctx, uint32_t value, int n) {
    value &= low_bits_mask(n);
    *ctx.out_cursor = static_cast<uint8_t>(*ctx.out_cursor | static_cast<uint8_t>(value << ctx.bit_pos));
    int total = ctx.bit_pos + n;
    if (total > 8) {
        uint32_t rest = value >> (8 - ctx.bit_pos);
        do {
            if (!enter_next_byte<Unpacking>(ctx)) return; // dropped: the packet is complete
            *ctx.out_cursor = static_cast<uint8_t>(rest);
            rest >>= 8;
            total -= 8;
        } while (total > 8);
    }
    ctx.bit_pos = total;
}

[[gnu::always_inline]] inline void write_bits(StreamContext& ctx, uint32_t value, int n) {
    if (!write_bits_within_segment(ctx, value, n)) write_bits_bytewise(ctx, value, n);
}

// The context's packet position held in locals for a run of codewords (a residue partition), as
// LocalDecoder holds a decoder's: the bytes stored meanwhile may alias anything, so a position kept in the
// context would be reloaded and stored again around every codeword. The counters of the bytes entered
// follow from the cursor's distance to where it was taken. store() hands the position back and must come
// before anything else uses the context's cursor; take_position() takes it again. `Byte` is uint8_t
// for the writer, const uint8_t for packing's reader.
template <class Byte> struct LocalPacketPosition {
    Byte* cursor;
    int32_t bit_pos;
    // While the cursor lies at or below it, the bytes the writer or reader may touch in one go lie ahead
    // and more than four bytes of the packet are left (no cut can come): one comparison for both.
    uintptr_t end_far_from_cut;
    Byte* taken_at;
    int32_t packet_remaining_when_taken;
    StreamContext* home;

    [[gnu::always_inline]] void take_position() {
        cursor = home->out_cursor;
        bit_pos = home->bit_pos;
        taken_at = cursor;
        packet_remaining_when_taken = home->packet_remaining;
    }

    // Sets end_far_from_cut from `end`, the last cursor from which the bytes needed lie ahead; after
    // take_position().
    [[gnu::always_inline]] void limit_to_cut(uintptr_t end) {
        // packet_remaining() > 4 while the cursor lies at or below this.
        const uintptr_t far_from_cut =
            reinterpret_cast<uintptr_t>(cursor) +
            static_cast<uintptr_t>(static_cast<intptr_t>(packet_remaining_when_taken) - 5);
        end_far_from_cut = end < far_from_cut ? end : far_from_cut;
    }

    [[gnu::always_inline]] void store() {
        const int32_t entered = static_cast<int32_t>(cursor - taken_at);
        home->out_cursor += entered;
        home->bit_pos = bit_pos;
        home->segment_remaining -= entered;
        home->packet_remaining -= entered;
        taken_at = cursor;
        packet_remaining_when_taken = home->packet_remaining;
    }

    [[gnu::always_inline]] int32_t packet_remaining() const {
        return packet_remaining_when_taken - static_cast<int32_t>(cursor - taken_at);
    }

    // Whether at most four bytes of the packet are left (a cut may come).
    [[gnu::always_inline]] bool near_packet_end() const {
        if (reinterpret_cast<uintptr_t>(cursor) <= end_far_from_cut) [[likely]]
            return false;
        return packet_remaining() <= 4;
    }
};

// The writer's position held in locals: writes exactly as write_bits on the context it was taken from.
// take() takes the position again after store().
struct LocalBitWriter : LocalPacketPosition<uint8_t> {
    uintptr_t room_end; // four bytes of the segment lie ahead (a codeword takes one store)

    [[gnu::always_inline]] explicit LocalBitWriter(StreamContext& ctx) {
        home = &ctx;
        take();
    }

    [[gnu::always_inline]] void take() {
        take_position();
        room_end = reinterpret_cast<uintptr_t>(home->segment_end) - 4;
        limit_to_cut(room_end);
    }

    // write_bits_within_segment's store, where it has room.
    [[gnu::always_inline]] void write_in_room(uint32_t value, int n) {
        uint8_t* const p = cursor;
        const int total = bit_pos + n; // 1 .. 32
        const uint32_t word = *p | value << bit_pos;
        p[0] = static_cast<uint8_t>(word);
        p[1] = static_cast<uint8_t>(word >> 8);
        p[2] = static_cast<uint8_t>(word >> 16);
        p[3] = static_cast<uint8_t>(word >> 24);
        const int entered = (total - 1) >> 3;
        cursor = p + entered;
        bit_pos = total - 8 * entered;
    }

    // A codeword: `value` lies within its `n` bits, so unlike write_bits nothing is masked.
    [[gnu::always_inline]] void write_codeword(uint32_t value, int n) {
        const bool short_codeword = static_cast<unsigned>(n - 1) < 24u;
        if (short_codeword && reinterpret_cast<uintptr_t>(cursor) <= end_far_from_cut) [[likely]] {
            write_in_room(value, n);
        } else if (short_codeword && reinterpret_cast<uintptr_t>(cursor) <= room_end) {
            write_in_room(value, n);
        } else {
            store();
            write_bits_bytewise(*home, value, n);
            take();
        }
    }
};

// Packing: the original's byte under the cursor, or 0 where write_bits would write past the packet.
inline uint32_t original_byte(const StreamContext& ctx) {
    const uint8_t* p = ctx.out_cursor;
    if ((p < ctx.segment_end || p == ctx.packet_first_byte) && p < ctx.original_page_end) return *p;
    return 0;
}

inline uint32_t take_bits(StreamContext& ctx, int n) {
    const uint32_t mask = low_bits_mask(n);
    uint32_t value = original_byte(ctx) >> ctx.bit_pos;
    int got = 8 - ctx.bit_pos;
    int total = ctx.bit_pos + n;
    while (total > 8) {
        if (!enter_next_byte<Packing>(ctx)) return value & mask;
        value |= original_byte(ctx) << got;
        got += 8;
        total -= 8;
    }
    ctx.bit_pos = total;
    return value & mask;
}

// Byte-aligned fields: stored at out_cursor (unpacking) or read from it (packing), not through the bit
// writer; the caller guarantees the room.
template <class Dir> inline uint32_t transfer_aligned_byte(StreamContext& ctx, uint32_t value) {
    if constexpr (Dir::packing) {
        value = ctx.out_cursor < ctx.original_page_end ? *ctx.out_cursor : 0u;
    } else {
        *ctx.out_cursor = static_cast<uint8_t>(value);
    }
    ++ctx.out_cursor;
    return value & 0xFFu;
}

// Replay reader.
template <class Dir> uint32_t read_bits(StreamContext& ctx, int n);
template <class Dir> int32_t read_aligned_byte(StreamContext& ctx);
// The next byte of the replay input (refilled through ctx.replay_refill when the buffer is used up; 0
// and `input_ended` when nothing follows).
uint8_t next_replay_byte(StreamContext& ctx);
// Takes the next page into the replay buffer through ctx.replay_refill; false when none follows.
bool refill_replay(StreamContext& ctx);
