#pragma once

// One whole unpack run: header, control block, every item up to the end marker, teardown. The command
// line, the packer's in-memory verification and fuzzers all run archives through here.

#include "driver/output_sink.h"
#include "driver/unpack_status.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The archive: an open file positioned at its start, or bytes in memory (when `file` is null).
struct ArchiveInput {
    FILE* file = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Runs the archive into `output`. The output's begin() is called only after the seven header bytes
// have been accepted; the output keeps whatever was written before a failure.
UnpackStatus unpack_archive(const ArchiveInput& input, OutputSink& output);
