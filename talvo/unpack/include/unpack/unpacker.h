#pragma once

// One whole unpack run: header, control block, every item up to the end marker, teardown. The command
// line, the packer's in-memory verification and fuzzers all run archives through here.

#include "ogg/output_sink.h"
#include "unpack/item_observer.h"
#include "unpack/unpack_status.h"
#include "vorbis/codec_events.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The archive: an open file positioned at its start, or bytes in memory (when `file` is null).
struct ArchiveInput {
    FILE* file = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// What the flags byte selects.
struct ArchiveSettings {
    uint8_t slot_selector = 0; // codebook slot table of 2^(s+4) slots
    bool carry_over = false;   // statistics adapt across logical streams
};

// Reads the seven header bytes and checks them: Ok with the settings, InvalidHeader (a wrong or short
// magic) or InvalidFormat (a slot selector above 3).
UnpackStatus read_archive_header(const ArchiveInput& input, ArchiveSettings& settings);

// Runs the items after the header (which read_archive_header has read) into `output`. The output keeps
// whatever was written before a failure. What the codecs report goes to `events`, in the order it
// happens (nowhere without a callback), and each item's start and end to `observer`.
UnpackStatus unpack_items(const ArchiveInput& input, const ArchiveSettings& settings,
                          const OutputSink& output, const CodecEvents& events = {},
                          const ItemObserver& observer = {});

// Both: a whole archive into `output` (in memory, or an output that exists already).
UnpackStatus unpack_archive(const ArchiveInput& input, const OutputSink& output,
                            const CodecEvents& events = {});
