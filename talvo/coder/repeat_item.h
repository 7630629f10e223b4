#pragma once

// The repeat item: a logical stream emitted again from the stream store, with only its serial number
// changed. It occupies nothing in the archive but a few control decisions:
//   k      = store index under ModelArea record 52 (code_store_index)
//   serial = record 3's running value + a signed delta in the page layer's serial-number shape
// then every page of the k-th most recent record is restamped in place and the record is written in
// one write. The repeated stream is not stored again and no other model changes.
//
// Wiring in the item loop (after special = 1 and repeat = 1 were decoded):
//     if (!run_repeat_item(control_decoder, models, stream_store, output))
//         stop the run with a failure status: "frame list position error!" has been printed and the
//         archive is corrupt, nothing sensible can follow.
// Packing (archive writer), after store_find_match() found the stream as record k:
//     pack_repeat_item(control_encoder, models, stream_store, k, serial);
// which codes the same decisions and restamps the record the same way, so the packer's store stays
// byte-equal to the unpacker's.

#include "coder/bit_direction.h"
#include "coder/page_store.h"
#include "fields/value_model.h"
#include "ogg/output_sink.h"

#include <cstdint>

template <class Dir>
bool code_repeat_item(Dir& control, ModelArea& models, PageStore& stream_store, const OutputSink* output,
                      uint32_t known_index = 0, uint32_t known_serial = 0);

bool run_repeat_item(RangeDecoder& control_decoder, ModelArea& models, PageStore& stream_store,
                     const OutputSink& output);

bool pack_repeat_item(RangeEncoder& control_encoder, ModelArea& models, PageStore& stream_store,
                      uint32_t index, uint32_t serial);

// Restamps the whole pages of a stored record in place with `serial`; false if the record does not end
// on a page boundary (the pages before that point are restamped).
bool restamp_record(uint8_t* bytes, int32_t length, uint32_t serial);
