#include "driver/repeat_item.h"

// This build keeps no stream store: an archive that repeats a stream is refused loudly rather than
// restored with a gap.

UnpackStatus run_repeat_item(DriverState& /*state*/) {
    return UnpackStatus::UnsupportedRepeat;
}
