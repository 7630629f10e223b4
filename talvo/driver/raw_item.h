#pragma once

// Raw items: bytes stored verbatim, and the end marker (a raw item of length 0).

#include "driver/driver_state.h"
#include "driver/unpack_status.h"

// Reads one raw item and writes it to the output in one write. Sets `end_marker` when it was the end
// marker.
UnpackStatus run_raw_item(DriverState& state, bool& end_marker);
