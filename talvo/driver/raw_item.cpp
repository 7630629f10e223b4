#include "driver/raw_item.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr size_t kRawGranule = 256;
// The buffer grows towards a raw item's length only as its bytes actually arrive, so a length code
// that claims more than the archive holds ends as a short archive, not as a gigabyte allocation.
constexpr size_t kRawFirstGrowth = size_t{1} << 20;

bool grow_raw_buffer(DriverState& state, size_t capacity) {
    auto* grown = static_cast<uint8_t*>(std::realloc(state.raw_buffer, capacity));
    if (!grown) return false;
    state.raw_buffer = grown;
    state.raw_capacity = capacity;
    return true;
}

} // namespace

UnpackStatus run_raw_item(DriverState& state, bool& end_marker) {
    end_marker = false;
    const uint32_t length = read_length(state.reader);
    if (reader_is_exhausted(state.reader)) return UnpackStatus::UnexpectedEnd;
    if (length == 0) {
        end_marker = true;
        return UnpackStatus::Ok;
    }
    const size_t needed = (static_cast<size_t>(length) + kRawGranule - 1) / kRawGranule * kRawGranule;
    size_t filled = 0;
    while (filled < length) {
        if (filled == state.raw_capacity || state.raw_capacity < std::min<size_t>(needed, kRawFirstGrowth)) {
            const size_t capacity = std::min(needed, std::max(state.raw_capacity * 2, kRawFirstGrowth));
            if (!grow_raw_buffer(state, capacity)) return UnpackStatus::OutOfMemory;
        }
        const size_t target = std::min<size_t>(length, state.raw_capacity);
        const auto want = static_cast<int32_t>(target - filled);
        const int32_t got = read_bytes(state.reader, state.raw_buffer + filled, want);
        filled += static_cast<size_t>(got);
        if (got < want) return UnpackStatus::UnexpectedEnd;
    }
    if (!sink_write(state.output, state.raw_buffer, length)) return UnpackStatus::WriteFailed;
    return UnpackStatus::Ok;
}
