#pragma once

// StreamContext: the Ogg layer's state for rebuilding (or, packing, reading and modelling) one logical
// stream: decoders, the page being built or read, lacing, bit I/O and replay input, and the links to the
// models and stores. The Vorbis codecs keep their own state in a VorbisContext (vorbis/vorbis_context.h),
// which extends this record; every codec and field coder works through it.
//
// Directions and modes. The direction is a type (Unpacking or Packing, coder/bit_direction.h) that every
// codec and the page layer take as a template argument; the context holds no direction of its own.
//   Unpacking (restoring): fields are decoded from the three range decoders and written into the page
//     buffer with write_bits (ogg/bit_io.h); the page layer (ogg/page_layer.h) decodes page headers and
//     lacing from `page_decoder`, and writes each finished page to `output`. Where the archive describes
//     what no packer writes (a value beyond its table, a setup the codecs refuse) the stream fails and
//     `damaged` is set.
//   Packing (archiving): the Ogg pages of the logical stream already exist; they are handed over with
//     set_original_pages(). `page_start`, `out_cursor` and `segment_end` then point into the ORIGINAL
//     page being modelled, and take_bits (ogg/bit_io.h) returns the bits that write_bits would have
//     written at the same place, walking the same segment and page boundaries. The page layer codes page
//     headers and lacing into `page_encoder` and writes nothing. Where the packing side meets something
//     the model cannot express it sets `inexpressible`; the packer then stores the stream raw.
//   `mode` (both directions): rebuild or replay. In replay mode the bits of a stored packet are read
//     back from the replay buffer (read_bits); nothing is coded and no model changes.
//
// Life cycle, per stream item: init_stream_context() (links; the Vorbis layer's init_vorbis_context() calls
// it), open_page_buffer() (unpacking) or set_original_pages() (packing), start the decoders, then the
// header codec and the packet loop.

#include "coder/range_decoder.h"
#include "coder/range_encoder.h"
#include "coder/value_model.h"
#include "coder/zeroed_memory.h"
#include "ogg/ogg_page.h"
#include "ogg/output_sink.h"

#include <cstdint>
#include <vector>

struct PageStore;

constexpr int kPageBufferSize = 65536;
constexpr int kPageBufferSpare = 2; // spare bytes in front of the page buffer

// Rebuild: fields are coded (and, unpacking, written). Replay: a stored packet is read back as it is.
enum class CodingMode : uint8_t { Rebuild, Replay };

// Where the replay input takes further bytes once the stored ones are used up (unpacking: the archive
// holds the following header pages verbatim). Puts the next page into `storage`, grown when it is too
// small, and returns its size; 0 when no page follows.
struct ReplayRefill {
    void* context = nullptr;
    int32_t (*next_page)(void* context, std::vector<uint8_t>& storage) = nullptr;
};

// Packing: told as a page start takes each original page (its index among the stream's pages), so that
// a caller can follow a long stream's progress. Left empty, nothing is told.
struct PageProgress {
    void* context = nullptr;
    void (*page_taken)(void* context, int32_t index) = nullptr;
};

struct StreamContext {
    // 1. Decoders.
    RangeDecoder data_decoder;
    RangeDecoder page_decoder;
    RangeDecoder aux_decoder;
    RangeDecoder* control_decoder = nullptr;

    // 2. Modes and output.
    CodingMode mode = CodingMode::Rebuild;
    int32_t bit_pos = 0; // bits used in the byte at out_cursor, 0..8
    uint8_t* page_start = nullptr;
    uint8_t* out_cursor = nullptr;
    uint8_t* segment_end = nullptr;
    uint8_t* page_limit = nullptr;
    OutputSink output;
    uint16_t* packet_probs = nullptr;
    uint16_t* control_probs = nullptr;
    int32_t input_ended = 0;
    ModelArea* models = nullptr;

    // 3. Page state.
    uint8_t packet_ends_here = 0;
    uint8_t last_packet_complete = 0;
    uint8_t packet_index = 0;
    uint8_t packet_count = 0;
    uint8_t remember_stream = 0;
    uint8_t capture_headers = 0;
    uint8_t headers_copied = 0; // the header set came from the header store (for reports)
    int32_t capture_offset = 0;
    int32_t segment_count = 0;
    uint8_t lacing[kMaxLacing] = {};
    uint16_t packet_lengths[kMaxLacing] = {};
    uint8_t header_type = 0;
    uint8_t packet_done = 0;
    int32_t segment_remaining = 0;
    int32_t segment_index = 0; // -1 when the page's lacing values are used up
    uint8_t stream_ended = 0;  // the stream's last page has been used up

    // 4. Replay input.
    const uint8_t* replay_cursor = nullptr;
    const uint8_t* replay_end = nullptr;
    uint32_t bit_buffer = 0;
    int32_t bit_count = 0; // -1 once the replayed packet's bits ran out
    ReplayRefill replay_refill;

    // 5. Counters and links.
    int32_t packet_remaining = 0;
    int32_t granule_estimate = 0;
    PageStore* header_store = nullptr;
    PageStore* stream_store = nullptr;

    // The stream failed: unpacking, the archive describes what no packer writes; packing, the model
    // cannot express the original.
    bool damaged = false;
    bool inexpressible = false;

    // Packing direction.
    RangeEncoder* page_encoder = nullptr;
    const OggPage* original_pages = nullptr;
    int32_t original_page_count = 0;
    int32_t original_page_next = 0;             // the next page a page start takes
    const uint8_t* original_page_end = nullptr; // one past the current original page
    const uint8_t* packet_first_byte = nullptr; // a packet's first byte, before its first lacing value
    PageProgress page_progress;

    // Storage that outlives re-initialisation (grown, never shrunk).
    std::vector<uint8_t> replay_storage;
    ZeroedBlock<uint8_t> page_storage; // fresh zero pages per stream: a page is built by OR-ing bits in
};

// What init_stream_context links in; the rest of the context starts from zero.
struct StreamLinks {
    RangeDecoder* control_decoder = nullptr;
    uint16_t* control_probs = nullptr;
    ModelArea* models = nullptr;
    uint16_t* packet_probs = nullptr;
    PageStore* header_store = nullptr;
    PageStore* stream_store = nullptr;
    OutputSink output;
};

// Zeroes the whole context (keeping its grown buffers) and sets the links.
void init_stream_context(StreamContext& ctx, const StreamLinks& links);

// Unpacking: the 65,536-byte page buffer (two spare bytes in front), bit position 0, first byte 0.
void open_page_buffer(StreamContext& ctx);

// Packing: the logical stream's original pages, in order; page starts take them one by one and tell
// `progress` of each. Also sets the page encoder. The pages must stay valid while the stream is
// modelled. False when a page is not a whole Ogg page (its size disagrees with its lacing table).
bool set_original_pages(StreamContext& ctx, const OggPage* pages, int32_t count, RangeEncoder* page_encoder,
                        const PageProgress& progress = {});

// Copies n stored bytes into the replay buffer; the replay readers read them next.
void load_replay(StreamContext& ctx, const uint8_t* bytes, int32_t n);

// Ends the stream as failed: packing, the original is beyond what the model expresses; unpacking, the
// archive is damaged. Returns false, for `return fail_stream<Dir>(ctx);`.
template <class Dir> bool fail_stream(StreamContext& ctx) {
    if constexpr (Dir::packing)
        ctx.inexpressible = true;
    else
        ctx.damaged = true;
    return false;
}
