#pragma once

// An audio packet, in both directions: the packet type bit, the mode number and window flags (on the
// page coder), a cut-off final codeword and the truncation decision (on the auxiliary coder), the
// floors and the residues (on the data coder), and the packet's tail.

#include "vorbis/vorbis_context.h"
#include "vorbis/vorbis_setup.h"

// The packet's first fields, right after start_audio_packet; the mode number, or -1 when it is out of
// range (or, packing, the packet does not start as an audio packet).
template <class Dir> int code_mode_number(Dir& page, VorbisContext& ctx);

// The cut-off final codeword (models 7 and 8: bit count, then its bits when the count is nonzero) and,
// when it applies, the truncation decision, on the auxiliary coder. Packing codes ctx.truncated_bits and
// ctx.truncated_code as found, and a decision of 0.
template <class Dir> void code_truncation(Dir& aux, VorbisContext& ctx, bool decision_applies);

// The rest of the packet of mode `mode`. `data` and `aux` are the directions of the data and auxiliary
// sub-streams. False when a floor fails or a residue cannot go on.
template <class Dir> bool code_audio_packet(Dir& data, Dir& aux, VorbisContext& ctx, const Mode& mode);
