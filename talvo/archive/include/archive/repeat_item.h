#pragma once

// The repeat item: a logical stream emitted again from the stream store, with only its serial number
// changed. It occupies nothing in the archive but a few control decisions:
//   k      = store index under ModelArea record 52 (code_store_index)
//   serial = record 3's running value + a signed delta in the page layer's serial-number shape
// then every page of the k-th most recent record is restamped in place and the record is written in
// one write. The repeated stream is not stored again and no other model changes. The packer codes the
// same decisions and restamps its own copy of the record the same way, so its store stays byte-equal
// to the unpacker's.

#include "archive/archive_format.h"
#include "archive/stream_item_driver.h"
#include "coder/range_decoder.h"
#include "coder/range_encoder.h"
#include "ogg/output_sink.h"

#include <cstdint>

// Unpacking, after the item's announcement: the stored stream, restamped, to `output`. Incomplete when
// the index names no stored stream (reported to `events`; nothing is written and the next item
// follows).
ItemResult unpack_repeat_item(StreamDriver& driver, RangeDecoder& control, const OutputSink& output,
                              const CodecEvents& events);

// Packing, after the item's announcement: codes the stream store's record `index` (0 = newest) under
// `serial`. False, with nothing coded, when there is no such record or it is no whole pages.
bool pack_repeat_item(StreamDriver& driver, RangeEncoder& control, uint32_t index, uint32_t serial);
