#pragma once

// The packing side of the archive container: header, control sub-stream, items and end marker. Every
// control decision goes through the same routines the unpacker decodes them with.

#include "archive/archive_format.h"
#include "coder/range_encoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// The bytes of the length code of `value` (at most kMaxLengthCode): 1 to 4.
size_t length_code_size(uint32_t value);
// Appends a length code of the fewest bytes (1 to 4) that carry `value` (at most kMaxLengthCode).
void append_length_code(std::vector<uint8_t>& out, uint32_t value);

struct ArchiveWriter {
    uint8_t flags = 0;
    RangeEncoder control;                        // the control sub-stream
    uint16_t control_probs[kControlProbCount]{}; // shared with the header codec's replay decisions
    int previous_special = 0;
    std::vector<uint8_t> items; // everything after the control block, in item order, not yet spooled
    // Where the items go as they are made, so that a large archive is not held in memory (null: all of
    // them stay in `items`). The file is written from its start; bytes past the items' end are stale.
    FILE* spool = nullptr;
    uint64_t spooled = 0;     // the items' bytes in the spool, from its start
    int spool_error = 0;      // errno of the first spool write that failed (0: none)
    uint64_t items_coded = 0; // items announced on the control sub-stream so far, the end marker included
};

// A point the writer can return to, e.g. when a stream turns out not to be expressible and is
// stored as raw items instead.
struct ArchiveWriterMark {
    RangeEncoder control;
    uint16_t control_probs[kControlProbCount]{};
    int previous_special = 0;
    uint64_t items_size = 0;
    uint64_t items_coded = 0;
};

void writer_init(ArchiveWriter& writer, uint8_t flags);
// As writer_init, with the items spooled to `spool` (open for writing and reading, e.g. "w+b").
void writer_init_spooled(ArchiveWriter& writer, uint8_t flags, FILE* spool);
// The items' bytes so far, spooled or not.
uint64_t writer_items_size(const ArchiveWriter& writer);

// One raw item of 1 to kMaxLengthCode bytes; false (nothing written) otherwise.
bool writer_add_raw_item(ArchiveWriter& writer, const uint8_t* data, size_t size);
// Any number of bytes as raw items of at most `max_item` bytes each.
void writer_add_raw_bytes(ArchiveWriter& writer, const uint8_t* data, size_t size, size_t max_item);
// The size of the archive that holds `size` bytes as raw items of at most `max_item` bytes each and
// nothing else, without making it.
size_t raw_archive_size(size_t size, size_t max_item);

// A stream item: the announcement and the remember bit now; then the caller codes the stream, its
// replay decisions on writer.control with writer.control_probs; then the three sub-streams, which this
// flushes and appends. False when a sub-stream is too long for a length code.
void writer_begin_stream_item(ArchiveWriter& writer, bool remember);
bool writer_end_stream_item(ArchiveWriter& writer, RangeEncoder& aux, RangeEncoder& page, RangeEncoder& data);

// A repeat item: the announcement now; the caller then codes its own decisions on writer.control. It
// occupies no bytes outside the control sub-stream.
void writer_begin_repeat_item(ArchiveWriter& writer);

ArchiveWriterMark writer_mark(const ArchiveWriter& writer);
void writer_rollback(ArchiveWriter& writer, const ArchiveWriterMark& mark);

// Codes the end marker and returns the whole archive. The writer is spent afterwards.
std::vector<uint8_t> writer_finish(ArchiveWriter& writer);
// Codes the end marker, spools the last items and returns what precedes the items in the archive
// (magic, flags and control block); the archive is that head followed by the first
// writer.spooled bytes of the spool. False when a spool write failed (writer.spool_error says why).
bool writer_finish_spooled(ArchiveWriter& writer, std::vector<uint8_t>& head);

// Writes the items held so far to the spool and flushes it, so that the spool's file holds them for
// anyone who reads it; false when a spool write failed (writer.spool_error says why).
bool writer_flush_spool(ArchiveWriter& writer);

// Positions a file at a 64-bit offset; false (errno set) when it cannot.
bool seek_file(FILE* file, uint64_t offset);
// Cuts a file, flushed, to `size` bytes; false (errno set) when it cannot.
bool truncate_file(FILE* file, uint64_t size);
