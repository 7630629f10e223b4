#include "driver/repeat_item.h"

#include "driver/stream_item.h"
#include "vorbis/stream_item_driver.h"

// The stream store lives with the stream item driver; this side hands it the control decoder and the
// output.

UnpackStatus run_repeat_item(DriverState& state) {
    return item_result_status(state,
                              unpack_repeat_item(*state.stream_driver, state.control_decoder, state.output));
}
