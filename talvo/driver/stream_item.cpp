#include "driver/stream_item.h"

// This build restores no Vorbis stream: an archive that holds one is refused loudly rather than
// restored with a gap.

bool stream_driver_setup(DriverState& state) {
    state.stream_driver = nullptr;
    return true;
}

void stream_driver_release(DriverState& state) {
    state.stream_driver = nullptr;
}

UnpackStatus run_stream_item(DriverState& /*state*/) {
    return UnpackStatus::UnsupportedStream;
}
