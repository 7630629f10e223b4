#include "ogg/bit_io.h"

#if __has_include("driver/archive_reader.h")
#include "driver/archive_reader.h"
#include "ogg/page_layer.h"

// The replay input has run out: the archive holds the next page verbatim. It is checked in place first
// (peek_page leaves the reader where it was), then taken whole.
bool refill_replay_from_archive(StreamContext& ctx) {
    if (!ctx.reader) return false;
    const int32_t size = peek_page(*ctx.reader);
    if (size < 1) return false;
    if (ctx.replay_storage.size() < static_cast<size_t>(size))
        ctx.replay_storage.resize((static_cast<size_t>(size) + 255) & ~static_cast<size_t>(255));
    if (read_bytes(*ctx.reader, ctx.replay_storage.data(), size) != size) return false;
    ctx.replay_cursor = ctx.replay_storage.data();
    ctx.replay_end = ctx.replay_cursor + size;
    return true;
}
#else
// Built without the archive reader (the packer's side): there is no archive to refill from.
bool refill_replay_from_archive(StreamContext&) {
    return false;
}
#endif
