#pragma once

// Repeat items: a logical stream that repeats one restored earlier, taken from the stream store.

#include "driver/driver_state.h"
#include "driver/unpack_status.h"

// Restores one repeat item, called after its announcement has been decoded. Ok when the item is
// over, also when it names no stored stream (counted in state.incomplete_items); any other status
// ends the run.
UnpackStatus run_repeat_item(DriverState& state);
