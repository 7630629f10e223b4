#pragma once

// Raw items: bytes stored verbatim, and the end marker (a raw item of length 0). The packing side is
// writer_add_raw_item (archive_writer.h).

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "ogg/output_sink.h"

#include <cstddef>
#include <cstdint>

// Holds one raw item whole; grows in multiples of 256 bytes and never shrinks.
struct RawItemBuffer {
    uint8_t* bytes = nullptr;
    size_t capacity = 0;
};

void release_raw_item_buffer(RawItemBuffer& buffer);

// Unpacking, after the item's announcement: reads one raw item and writes it to `output` in one write.
// Sets `end_marker` when it was the end marker.
ItemResult unpack_raw_item(ArchiveReader& reader, RawItemBuffer& buffer, const OutputSink& output,
                           bool& end_marker);
