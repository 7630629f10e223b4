#pragma once

// The residue section of an audio packet, in both directions. The archive holds no residue codeword: it
// holds each partition's class and each vector's values (the book's stored lookup values, centred),
// every value under a context model whose statistics belong to the book's model slot and to the
// position in the spectrum. Unpacking turns the decoded values back into the entry whose codeword it
// writes; packing reads the original codeword, codes that entry's values, and checks that the unpacker
// would choose the very same entry.

#include "coder/bit_direction.h"
#include "vorbis/vorbis_context.h"

#include <cstdint>

// Positions index a fixed 8,192-entry area per pass of the residue memory.
constexpr int32_t kMaxResiduePosition = 8192;
constexpr int kMaxResidueClasses = 16; // class values are coded in 4 bits
constexpr int32_t kMaxResidueMagnitude = 511;

enum ResidueOutcome : int {
    kResidueRefused = -1, // the stream cannot go on (a value or table the setup cannot hold)
    kResidueEnded = 0,    // the packet ended inside the residue, or a book had no lookup table
    kResidueDone = 1,
};

// One residue value at (residue number mod 4, pass, position, lane) under the book's model slot.
// Packing codes `known`; both directions return the value.
template <class Dir>
int32_t code_residue_value(Dir& d, VorbisContext& ctx, int r4, int slot, int pass, int32_t position, int lane,
                           int32_t known);

// The residue of one submap: `ch` channels, `do_not_decode` per channel, n = half the block size, r the
// residue number.
template <class Dir>
int code_residue(Dir& d, VorbisContext& ctx, int ch, int32_t n, int r, const uint8_t* do_not_decode);
