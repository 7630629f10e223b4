#pragma once

// VorbisContext: the Vorbis codecs' state for one logical stream, on top of the Ogg layer's
// StreamContext (pages, lacing, bit I/O, replay). It extends the StreamContext rather than pointing at
// one, so the codecs reach page and bit state at fixed offsets with no extra load in per-bit code, and
// hand themselves to the page layer and the field coders as the StreamContext they contain. The Ogg
// layer knows nothing of this record.
//
// Life cycle, per stream item: init_vorbis_context() (links of both layers), then as for the
// StreamContext, then prepare_vorbis_stream() (vorbis/vorbis_stream.h) links the stream's setup.

#include "ogg/stream_context.h"
#include "vorbis/codebook_slots.h"
#include "vorbis/codec_events.h"
#include "vorbis/vorbis_setup.h"

#include <cstdint>

// The Vorbis layer's own part, kept as a record of its own so that re-initialisation resets all of it.
struct VorbisState {
    // The Vorbis setup of the stream, filled by the header codec.
    VorbisSetup* setup = nullptr;
    const CodecEvents* events = nullptr; // unpacking: none, or the run's callback

    // What the previous audio packet leaves as context for the next one.
    uint8_t last_mode_low_bit = 0;
    uint8_t last_previous_window = 0;
    uint8_t last_next_window = 0;
    uint8_t floor_nonzero_history = 0;
    // The cut-off final codeword of the packet and whether the packet's end was coded as a truncation.
    int32_t truncated_bits = 0;
    int32_t truncated_code = 0;
    uint8_t truncation_seen = 0;

    // Links to what outlives the stream.
    CodebookSlotTable* slot_table = nullptr;
    uint8_t* scratch_large = nullptr; // the residue memory
    uint8_t* scratch_small = nullptr; // the floor class memory
};

struct VorbisContext : StreamContext, VorbisState {};

// What init_vorbis_context links in besides the StreamContext's links.
struct VorbisLinks {
    CodebookSlotTable* slot_table = nullptr;
    uint8_t* scratch_large = nullptr;
    uint8_t* scratch_small = nullptr;
    const CodecEvents* events = nullptr;
};

// Zeroes the whole context (init_stream_context for the Ogg part) and sets the links of both layers.
void init_vorbis_context(VorbisContext& ctx, const StreamLinks& stream_links, const VorbisLinks& links);
