#pragma once

// Stream items: what outlives single logical streams (models, codebook slot table, page stores, scratch
// areas) and the run of one stream item in either direction. Unpacking reads the item's three
// sub-streams from the archive reader and writes the restored pages; packing models a logical stream's
// original pages into three encoders and the control encoder, and can take the attempt back.

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "coder/range_decoder.h"
#include "coder/range_encoder.h"
#include "coder/value_model.h"
#include "coder/zeroed_memory.h"
#include "ogg/output_sink.h"
#include "ogg/page_store.h"
#include "vorbis/codebook_slots.h"
#include "vorbis/codec_events.h"
#include "vorbis/vorbis_context.h"
#include "vorbis/vorbis_setup.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// What the unpacker keeps across stream items and the packer keeps as its mirror, item by item.
// Models, slot table and scratch areas start as zero pages, which is their reset state; until the first
// item has used them (`pristine`), the reset for a stream has nothing to do and touches nothing.
struct StreamDriver {
    // The models and both scratch areas share one block of zero pages (under 2 MiB: one huge page).
    ZeroedBlock<uint8_t> model_block;
    ModelArea* models = nullptr;
    CodebookSlotTable slots;
    PageStore stream_store{}; // whole remembered streams, for repeat items
    PageStore header_store{}; // captured header pages, for header copies
    uint8_t* scratch_large = nullptr;
    uint8_t* scratch_small = nullptr;
    std::vector<uint8_t> data_buffer; // the streamed data sub-stream's window, reused by every item
    bool pristine = true;
    // Packing: the most codebook slots any stream has held at once. Below the capacity, no slot was
    // ever recycled, and a larger table would have coded exactly the same decisions.
    int32_t peak_slots = 0;
    // Packing: the models and the slot table as they were before the stream item being packed, to take
    // the attempt back. Kept from item to item, so that saving them is a copy into memory already in
    // use rather than megabytes of fresh pages (the slot table's probabilities) for every stream of a
    // chained file or a bundle.
    std::unique_ptr<ModelArea> saved_models;
    CodebookSlotTable saved_slots;
    std::unique_ptr<VorbisContext> ctx;
    VorbisSetup setup;
    int32_t capacity = 16;
    int32_t age_shift = 4;
    bool carry_over = false;
};

// What the packer chose for a stream item besides its pages.
struct StreamItemChoices {
    bool remember = false;         // coded as the remember bit: a later repeat item re-emits the stream
    bool capture_headers = true;   // headers coded field by field are captured for later header copies
    int32_t header_copy = -1;      // the header-store record (0 = newest) whose pages replace the comment
                                   // and setup pages, or -1 to code them
    int32_t header_copy_pages = 0; // how many original pages, after the first, that copy stands for
};

// Created once per archive: 2^(slot_selector + 4) codebook slots; `carry_over` keeps the adapted
// statistics from one logical stream to the next. Null when memory runs out.
StreamDriver* create_stream_driver(int slot_selector, bool carry_over);
void destroy_stream_driver(StreamDriver* driver);

// Unpacking, after the item's announcement: the remember bit on `control`, the three sub-streams from
// `reader`, the stream restored to `output`, what the codecs report to `events`. Done when the stream reached
// its last page, or ended on a failing page start (how a packer ends a stream it modelled only in part);
// Incomplete when a codec failed before that.
ItemResult unpack_stream_item(StreamDriver& driver, ArchiveReader& reader, RangeDecoder& control,
                              uint16_t* control_probs, const OutputSink& output, const CodecEvents& events);

// Packing, after the item's announcement and remember bit (choices.remember as coded): models the pages
// of one logical stream. Its decisions go to `control` under `control_probs`, its sub-streams to the
// three encoders; `progress` hears of each page as it is taken. False when the stream cannot be
// expressed; the driver's state is then as before the call (the caller rolls back the control encoder
// and stores the bytes raw).
bool pack_stream_item(StreamDriver& driver, const OggPage* pages, size_t count,
                      const StreamItemChoices& choices, RangeEncoder& control, uint16_t* control_probs,
                      RangeEncoder& aux, RangeEncoder& page, RangeEncoder& data,
                      const PageProgress& progress = {});
