#pragma once

// Stream items: one Ogg Vorbis logical stream each, restored from three range-coded sub-streams.

#include "driver/driver_state.h"
#include "driver/unpack_status.h"

#include <cstdint>

enum class StreamItemResult : uint8_t;

// Builds what outlives single stream items (state.stream_driver), once, after the flags byte has been
// accepted. False when memory runs out.
bool stream_driver_setup(DriverState& state);
void stream_driver_release(DriverState& state);

// Restores one stream item, called after its announcement has been decoded. Ok when the item is over,
// restored or failed (a failed stream item ends that item only and is counted in
// state.incomplete_items); any other status ends the run. A
// sub-stream decoder (or the control decoder) that ran past its end (decoder_overran) means a corrupt
// archive, not a failed item: the item stops at once and returns Corrupt, keeping the pages written.
UnpackStatus run_stream_item(DriverState& state);

// The run's status after a stream or repeat item ended with `result`; an incomplete item is counted in
// state.incomplete_items and the run goes on.
UnpackStatus item_result_status(DriverState& state, StreamItemResult result);
