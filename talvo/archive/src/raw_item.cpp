#include "archive/raw_item.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr size_t kRawGranule = 256;
// The buffer grows towards a raw item's length only as its bytes actually arrive, so a length code
// that claims more than the archive holds ends as a short archive, not as a gigabyte allocation.
constexpr size_t kRawFirstGrowth = size_t{1} << 20;

bool grow(RawItemBuffer& buffer, size_t capacity) {
    auto* grown = static_cast<uint8_t*>(std::realloc(buffer.bytes, capacity));
    if (!grown) return false;
    buffer.bytes = grown;
    buffer.capacity = capacity;
    return true;
}

} // namespace

void release_raw_item_buffer(RawItemBuffer& buffer) {
    std::free(buffer.bytes);
    buffer = RawItemBuffer{};
}

ItemResult unpack_raw_item(ArchiveReader& reader, RawItemBuffer& buffer, const OutputSink& output,
                           bool& end_marker) {
    end_marker = false;
    const uint32_t length = read_length(reader);
    if (reader_is_exhausted(reader)) return ItemResult::InputEnded;
    if (length == 0) {
        end_marker = true;
        return ItemResult::Done;
    }
    const size_t needed = (static_cast<size_t>(length) + kRawGranule - 1) / kRawGranule * kRawGranule;
    size_t filled = 0;
    while (filled < length) {
        if (filled == buffer.capacity || buffer.capacity < std::min<size_t>(needed, kRawFirstGrowth)) {
            const size_t capacity = std::min(needed, std::max(buffer.capacity * 2, kRawFirstGrowth));
            if (!grow(buffer, capacity)) return ItemResult::OutOfMemory;
        }
        const size_t target = std::min<size_t>(length, buffer.capacity);
        const auto want = static_cast<int32_t>(target - filled);
        const int32_t got = read_bytes(reader, buffer.bytes + filled, want);
        filled += static_cast<size_t>(got);
        if (got < want) return ItemResult::InputEnded;
    }
    return sink_write(output, buffer.bytes, length) ? ItemResult::Done : ItemResult::WriteFailed;
}
