#pragma once

// Codewords in and out of a packet. Unpacking writes the codeword of a chosen entry; packing reads the
// codeword the original encoder wrote at the same place and names its entry (or sorted index), walking
// a binary tree of the book's codewords one bit at a time through the same bytes write_bits would fill.

#include "ogg/bit_io.h"
#include "ogg/stream_context.h"
#include "vorbis/vorbis_setup.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

// Index (entry, or sorted index of a sparse book) of each codeword -> its codeword and length.
inline uint32_t codeword_of(const Codebook& book, int32_t index) {
    return book.sparse ? book.sorted_codewords[index] : book.codewords[index];
}

// Whether the index names a codeword the book can write.
inline bool codeword_present(const Codebook& book, int32_t index) {
    const int32_t count = book.sparse ? book.sorted_entries : book.entries;
    return index >= 0 && index < count && book.codeword_lengths[index] != kAbsentEntry;
}

bool build_codeword_decoder(const Codebook& book, CodewordDecoder& decoder);

// Unpacking: writes the codeword of `index`.
inline void write_codeword(StreamContext& ctx, const Codebook& book, int32_t index) {
    write_bits(ctx, codeword_of(book, index), book.codeword_lengths[index]);
}

// Packing: the codeword that begins the 32 bits of `window` (the packet's next bits, lowest first): its
// index, or -1 when the bits form none; `length` gets the bits it takes (those that form none included).
// Most codewords by the table, the rest through the tree (codeword_in_tree).
int32_t codeword_in_tree(const CodewordDecoder& decoder, uint64_t window, int& length);
[[gnu::always_inline]] inline int32_t codeword_in_window(const CodewordDecoder& decoder, uint64_t window,
                                                         int& length) {
    static_assert(kMaxCodewordLength <= 32, "a codeword fits the window");
    const uint32_t entry = decoder.table[window & ((uint64_t{1} << decoder.table_bits) - 1)];
    if (entry != 0) [[likely]] {
        length = static_cast<int>(entry & 31);
        return static_cast<int32_t>(entry >> 5);
    }
    return codeword_in_tree(decoder, window, length);
}

// Packing: reads one codeword from the original packet bit by bit; as take_codeword.
int32_t take_codeword_bitwise(StreamContext& ctx, const CodewordDecoder& decoder);

// Packing: reads one codeword from the original packet; its index, or -1 when the bits form no
// codeword of the book within 32 bits. Where the five bytes from the cursor lie inside the current
// segment (and so inside the page), the next 32 bits are exactly what take_bits would return: the
// codeword is found in them and its bits are taken at once, the cursor entering the bytes take_bits
// would enter.
[[gnu::always_inline]] inline int32_t take_codeword(StreamContext& ctx, const CodewordDecoder& decoder) {
    const uint8_t* p = ctx.out_cursor;
    if (ctx.segment_end - p < 5 || ctx.original_page_end - p < 5 || ctx.bit_pos > 8) [[unlikely]]
        return take_codeword_bitwise(ctx, decoder);
    const uint64_t window =
        (static_cast<uint64_t>(p[0]) | static_cast<uint64_t>(p[1]) << 8 | static_cast<uint64_t>(p[2]) << 16 |
         static_cast<uint64_t>(p[3]) << 24 | static_cast<uint64_t>(p[4]) << 32) >>
        ctx.bit_pos;
    int length = 0;
    const int32_t index = codeword_in_window(decoder, window, length);
    const int total = ctx.bit_pos + length; // 1 .. 40
    const int entered = (total - 1) >> 3;   // at most 4: inside the segment
    ctx.out_cursor += entered;
    ctx.segment_remaining -= entered;
    ctx.packet_remaining -= entered;
    ctx.bit_pos = total - 8 * entered;
    return index;
}

// Eight bytes as loaded from memory, taken lowest first (the packet's bit order).
[[gnu::always_inline]] inline uint64_t little_endian_64(uint64_t loaded) {
    if constexpr (std::endian::native == std::endian::little) return loaded;
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= ((loaded >> (8 * i)) & 0xFF) << (8 * (7 - i));
    return v;
}

// Packing: the reader's position held in locals, as LocalBitWriter holds the writer's; reads exactly as
// take_codeword on the context it was taken from. take() takes the position again after store().
struct LocalCodewordReader : LocalPacketPosition<const uint8_t> {
    // The five bytes a codeword can reach lie inside the segment, and eight bytes inside the page, while
    // the cursor lies at or below it.
    uintptr_t window_end;

    [[gnu::always_inline]] explicit LocalCodewordReader(StreamContext& ctx) {
        home = &ctx;
        take();
    }

    [[gnu::always_inline]] void take() {
        take_position();
        const uintptr_t segment_window_end = reinterpret_cast<uintptr_t>(home->segment_end) - 5;
        const uintptr_t page_window_end = reinterpret_cast<uintptr_t>(home->original_page_end) - 8;
        window_end = segment_window_end < page_window_end ? segment_window_end : page_window_end;
        // A bit position beyond the byte (none is ever left there) takes the bitwise way.
        if (bit_pos > 8) window_end = 0;
        limit_to_cut(window_end);
    }

    // take_codeword's way with its window read as eight bytes at once (the three past the fifth are not
    // looked at).
    [[gnu::always_inline]] int32_t codeword_in_room(const CodewordDecoder& decoder) {
        const uint8_t* const p = cursor;
        uint64_t bytes;
        std::memcpy(&bytes, p, sizeof bytes);
        int length = 0;
        const int32_t index = codeword_in_window(decoder, little_endian_64(bytes) >> bit_pos, length);
        const int total = bit_pos + length; // 1 .. 40
        const int entered = (total - 1) >> 3;
        cursor = p + entered;
        bit_pos = total - 8 * entered;
        return index;
    }

    // Near the segment's or the page's end, through the context bit by bit.
    [[gnu::always_inline]] int32_t codeword(const CodewordDecoder& decoder) {
        if (reinterpret_cast<uintptr_t>(cursor) <= end_far_from_cut) [[likely]]
            return codeword_in_room(decoder);
        if (reinterpret_cast<uintptr_t>(cursor) <= window_end) return codeword_in_room(decoder);
        store();
        const int32_t index = take_codeword_bitwise(*home, decoder);
        take();
        return index;
    }
};

// Packing: the length of the codeword that starts at the cursor, judged from the packet's remaining
// `bits_left` bits only (they lie on the current page); 0 when those bits end inside a codeword or form
// none.
int peek_codeword_length(const StreamContext& ctx, const CodewordDecoder& decoder, int32_t bits_left);

// Packing: the decoding tree of book `number`, built on first use; null if the lengths form no prefix
// code.
const CodewordDecoder* build_decoder_for(VorbisSetup& setup, int number);
inline const CodewordDecoder* decoder_for(VorbisSetup& setup, int number) {
    const size_t n = static_cast<size_t>(number);
    if (n < setup.decoders.size() && setup.decoders[n].built) [[likely]]
        return &setup.decoders[n];
    return build_decoder_for(setup, number);
}

// Packing: whether the writer has already run past the packet's last byte (the bits that follow are
// dropped by write_bits and read as zero).
inline bool packet_overrun(const StreamContext& ctx) {
    return ctx.packet_done && ctx.out_cursor >= ctx.segment_end;
}

// Bits the packet still holds after the cursor, as the cut-packet rule counts them.
inline int32_t packet_bits_left(const StreamContext& ctx) {
    return ctx.packet_remaining * 8 + 8 - ctx.bit_pos;
}
