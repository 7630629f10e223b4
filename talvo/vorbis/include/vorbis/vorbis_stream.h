#pragma once

// One logical Vorbis stream in either direction: the three headers, then audio packets until the
// stream's last page has been used up, then the ageing of the codebook model slots.

#include "vorbis/vorbis_context.h"
#include "vorbis/vorbis_setup.h"

// Size of the scratch areas the audio codecs use: the residue memory and the floor class memory.
constexpr size_t kResidueMemoryBytes = size_t{1} << 20;
constexpr size_t kFloorClassMemoryBytes = 1024;

// Start of a logical stream: an empty setup linked into the context, both scratch areas zeroed (unless
// the caller knows them to be clear still), rebuild mode, no slot used yet.
void prepare_vorbis_stream(VorbisContext& ctx, VorbisSetup& setup, bool scratch_is_clear = false);

// `data`, `page`, `aux` and `control` are the directions of the three sub-streams and of the control
// coder. True when the whole stream was rebuilt (unpacking) or modelled (packing). The slot table is
// aged whenever the headers succeeded.
template <class Dir>
bool code_vorbis_stream(Dir& data, Dir& page, Dir& aux, Dir& control, VorbisContext& ctx);
