#pragma once

// Page-level helpers over whole Ogg files: splitting bytes into pages, grouping them into logical
// streams, and moving a logical stream's packets through the page layer byte by byte without looking at
// their content. The last one exercises exactly what the page layer does for a real codec (headers,
// lacing, continued packets, flush with CRC, stores), in either direction, and is what the page-layer
// tests and benchmark drive.

#include "ogg/stream_context.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Appends the whole pages found from `data` on; stops at the first position that does not start a whole
// page. Returns the number of bytes the pages cover.
size_t split_ogg_pages(const uint8_t* data, size_t size, std::vector<OggPage>& pages);

// The pages of each logical stream (by serial number, in order of first appearance).
std::vector<std::vector<OggPage>> group_pages_by_serial(const std::vector<OggPage>& pages);

// The payload bytes of the pages, concatenated.
std::vector<uint8_t> concat_payloads(const std::vector<OggPage>& pages);

// Moves every packet of one logical stream through the page layer. The first page is opened with
// expected type 2, later packets start with start_audio_packet. Unpacking takes each packet byte from
// `payload` (the stream's payload bytes in page order, `payload_size` of them); packing reads them from
// the original pages and ignores `payload`. True when the stream ended on its last page.
template <class Dir> bool walk_stream_pages(StreamContext& ctx, const uint8_t* payload, size_t payload_size);
