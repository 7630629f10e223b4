#pragma once

// Stream items: what outlives single logical streams (models, codebook slot table, page stores, scratch
// areas) and the run of one stream item in either direction. Unpacking reads the item's three
// sub-streams from the archive reader and writes the restored pages; packing models a logical stream's
// original pages into three encoders and the control encoder, and can take the attempt back.

#include "coder/range_decoder.h"
#include "coder/range_encoder.h"
#include "ogg/output_sink.h"

#include <cstddef>
#include <cstdint>

struct ArchiveReader;
struct StreamDriver;

// Created once per archive: 2^(slot_selector + 4) codebook slots; `carry_over` keeps the adapted
// statistics from one logical stream to the next. Null when memory runs out.
StreamDriver* create_stream_driver(int slot_selector, bool carry_over);
void destroy_stream_driver(StreamDriver* driver);

enum class StreamItemResult : uint8_t {
    Done,        // the item restored everything it describes
    Incomplete,  // the item is over but restored less than it describes: a codec refused or failed, or
                 // a stored record it names is missing (unpacking goes on with the next item)
    InputEnded,  // the archive ended inside the item's sub-stream blocks
    WriteFailed, // the output refused bytes
    Corrupt,     // a sub-stream decoder ran past its end (decoder_overran): the archive is damaged
};

// Unpacking, after the item's announcement: the remember bit on `control`, the three sub-streams from
// `reader`, the stream restored to `output`. Done when the stream reached its last page, or ended on a
// failing page start (how a packer ends a stream it modelled only in part); Incomplete when a codec
// failed before that.
StreamItemResult unpack_stream_item(StreamDriver& driver, ArchiveReader& reader, RangeDecoder& control,
                                    uint16_t* control_probs, const OutputSink& output);

// One original page of a logical stream (packing).
struct OriginalPage {
    const uint8_t* data;
    uint32_t size;
};

// Packing, after the item's announcement and remember bit (`remember` as coded): models the pages of one
// logical stream. Its decisions go to `control` under `control_probs`, its sub-streams to the three
// encoders. False when the stream cannot be expressed; the driver's state is then as before the call
// (the caller rolls back the control encoder and stores the bytes raw). A stream whose sub-streams would
// take more than `budget` bytes is given up the same way: stored raw it is smaller.
bool pack_stream_item(StreamDriver& driver, const OriginalPage* pages, size_t count, bool remember,
                      RangeEncoder& control, uint16_t* control_probs, RangeEncoder& aux, RangeEncoder& page,
                      RangeEncoder& data, size_t budget);

// Repeat items, which re-emit a stream from the stream store kept here. Unpacking, after the item's
// announcement: Incomplete when the index names no stored stream ("frame list position error!" has
// been printed, nothing is written and the next item follows).
StreamItemResult unpack_repeat_item(StreamDriver& driver, RangeDecoder& control, const OutputSink& output);

// Packing: codes the stream store's record `index` (0 = newest) under `serial`, and restamps the
// packer's copy of the record as the unpacker will restamp its own. False when there is no such record.
bool pack_repeat_stream(StreamDriver& driver, RangeEncoder& control, uint32_t index, uint32_t serial);

// Packing: the next pack_stream_item copies its comment and setup pages (`pages` original pages after
// the first) from the header store's record `record` (0 = newest) instead of coding them.
void set_packing_header_copy(StreamDriver& driver, uint32_t record, int32_t pages);

// Packing: whether the next pack_stream_item that codes its headers captures them into the header store
// for later copies (the default is to capture).
void set_packing_capture(StreamDriver& driver, bool capture);
