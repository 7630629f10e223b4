#include "driver/stream_item.h"

#include "vorbis/stream_item_driver.h"

// The stream item driver proper lives with the Vorbis codecs (vorbis/stream_item_driver.h); this side
// only hands it the driver's reader, control decoder and output.

struct StreamDriver;

bool stream_driver_setup(DriverState& state) {
    state.stream_driver = create_stream_driver(state.settings.slot_selector, state.settings.carry_over);
    return state.stream_driver != nullptr;
}

void stream_driver_release(DriverState& state) {
    destroy_stream_driver(state.stream_driver);
    state.stream_driver = nullptr;
}

UnpackStatus item_result_status(DriverState& state, StreamItemResult result) {
    switch (result) {
    case StreamItemResult::Done:
        return UnpackStatus::Ok;
    case StreamItemResult::Incomplete:
        ++state.incomplete_items;
        return UnpackStatus::Ok;
    case StreamItemResult::InputEnded:
        return UnpackStatus::UnexpectedEnd;
    case StreamItemResult::WriteFailed:
        return UnpackStatus::WriteFailed;
    case StreamItemResult::Corrupt:
        // Running out of sub-stream because the archive itself ended is the more useful message.
        return reader_is_exhausted(state.reader) ? UnpackStatus::UnexpectedEnd : UnpackStatus::Corrupt;
    }
    return UnpackStatus::Ok;
}

UnpackStatus run_stream_item(DriverState& state) {
    return item_result_status(state,
                              unpack_stream_item(*state.stream_driver, state.reader, state.control_decoder,
                                                 state.control_probs, state.output));
}
