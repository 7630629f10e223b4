#pragma once

// What the driver keeps for the whole archive and offers to the item handlers: the reader, the
// control decoder and its probabilities, the output and the archive settings.

#include "coder/archive_format.h"
#include "coder/range_decoder.h"
#include "driver/archive_reader.h"
#include "driver/unpacker.h"
#include "ogg/output_sink.h"

#include <cstddef>
#include <cstdint>

// Whatever the stream item driver keeps across stream items (models, tables, stores).
struct StreamDriver;

struct DriverState {
    ArchiveReader reader;
    RangeDecoder control_decoder;
    uint16_t control_probs[kControlProbCount]{};
    int previous_special = 0;
    uint8_t* control_block = nullptr;
    uint32_t control_length = 0;
    OutputSink output;
    ArchiveSettings settings;
    uint8_t* raw_buffer = nullptr; // grows in multiples of 256 bytes, never shrinks
    size_t raw_capacity = 0;
    StreamDriver* stream_driver = nullptr;
    // Items that ended without restoring everything they describe; the run goes on after each, and
    // reports the archive restored incompletely at its end.
    uint32_t incomplete_items = 0;
};
