#pragma once

// Codewords in and out of a packet. Unpacking writes the codeword of a chosen entry; packing reads the
// codeword the original encoder wrote at the same place and names its entry (or sorted index), walking
// a binary tree of the book's codewords one bit at a time through the same bytes write_bits would fill.

#include "ogg/bit_io.h"
#include "ogg/stream_context.h"
#include "vorbis/vorbis_setup.h"

#include <cstdint>
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
int32_t codeword_in_window(const CodewordDecoder& decoder, uint64_t window, int& length);

// Packing: reads one codeword from the original packet; its index, or -1 when the bits form no
// codeword of the book within 32 bits.
int32_t take_codeword(StreamContext& ctx, const CodewordDecoder& decoder);

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
