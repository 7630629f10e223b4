#include "unpack/unpacker.h"

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/raw_item.h"
#include "archive/repeat_item.h"
#include "archive/stream_item_driver.h"
#include "coder/bit_direction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// What the run keeps for the whole archive and offers to the items.
struct RunState {
    ArchiveReader reader;
    RangeDecoder control_decoder;
    uint16_t control_probs[kControlProbCount]{};
    int previous_special = 0;
    uint8_t* control_block = nullptr;
    uint32_t control_length = 0;
    OutputSink output;
    CodecEvents events;
    ItemObserver observer;
    ArchiveSettings settings;
    RawItemBuffer raw_buffer;
    StreamDriver* stream_driver = nullptr; // models, tables and stores kept across stream items
    // Items that ended without restoring everything they describe; the run goes on after each, and
    // reports the archive restored incompletely at its end.
    uint32_t incomplete_items = 0;
};

size_t read_header(const ArchiveInput& input, uint8_t* header) {
    if (input.file) return std::fread(header, 1, kArchiveHeaderSize, input.file);
    const size_t n = std::min<size_t>(input.size, kArchiveHeaderSize);
    if (n > 0) std::memcpy(header, input.data, n);
    return n;
}

// A header cut short counts as a bad header, even when its magic is complete.
UnpackStatus check_header(const uint8_t* header, size_t size, ArchiveSettings& settings) {
    if (size < sizeof kArchiveMagic || std::memcmp(header, kArchiveMagic, sizeof kArchiveMagic) != 0)
        return UnpackStatus::InvalidHeader;
    if (size < static_cast<size_t>(kArchiveHeaderSize)) return UnpackStatus::InvalidHeader;
    const uint8_t flags = header[sizeof kArchiveMagic];
    settings.slot_selector = flags & kFlagsSlotSelectorMask;
    if (settings.slot_selector > kFlagsMaxSlotSelector) return UnpackStatus::InvalidFormat;
    settings.carry_over = (flags & kFlagsCarryOver) != 0;
    return UnpackStatus::Ok;
}

bool start_reader(RunState& state, const ArchiveInput& input) {
    if (input.file) return reader_start_file(state.reader, input.file);
    return reader_start_memory(state.reader, input.data + kArchiveHeaderSize,
                               input.size - kArchiveHeaderSize);
}

UnpackStatus start_control_decoder(RunState& state) {
    state.control_block = read_block(state.reader, state.control_length);
    if (!state.control_block)
        return reader_is_exhausted(state.reader) ? UnpackStatus::UnexpectedEnd : UnpackStatus::OutOfMemory;
    init_decoder(state.control_decoder, state.control_block, static_cast<int32_t>(state.control_length));
    return UnpackStatus::Ok;
}

// The run's status after an item ended with `result`; an incomplete item is counted and the run goes on.
UnpackStatus item_status(RunState& state, ItemResult result) {
    switch (result) {
    case ItemResult::Done:
        return UnpackStatus::Ok;
    case ItemResult::Incomplete:
        ++state.incomplete_items;
        return UnpackStatus::Ok;
    case ItemResult::InputEnded:
        return UnpackStatus::UnexpectedEnd;
    case ItemResult::WriteFailed:
        return UnpackStatus::WriteFailed;
    case ItemResult::OutOfMemory:
        return UnpackStatus::OutOfMemory;
    case ItemResult::Corrupt:
        // Running out of sub-stream because the archive itself ended is the more useful message.
        return reader_is_exhausted(state.reader) ? UnpackStatus::UnexpectedEnd : UnpackStatus::Corrupt;
    }
    return UnpackStatus::Ok;
}

void report_item(RunState& state, ItemKind kind, ItemResult result, int32_t item_start) {
    if (!state.observer.item_ends) return;
    ItemReport report;
    report.kind = kind;
    report.result = result;
    // Positions wrap modulo 2^32; an item's extent is their difference.
    report.archive_bytes =
        static_cast<uint32_t>(reader_position(state.reader)) - static_cast<uint32_t>(item_start);
    StreamContext& ctx = *state.stream_driver->ctx;
    report.headers_copied = kind == ItemKind::Stream && ctx.headers_copied != 0;
    ctx.headers_copied = 0; // an item that fails before its headers leaves no stale answer
    report.slots_used = state.stream_driver->slots.used_count;
    state.observer.item_ends(state.observer.context, report);
}

// Every item up to the end marker. A failed stream or repeat item ends that item only; a sub-stream
// decoder (or the control decoder) that ran past its end means a corrupt archive and ends the run,
// keeping what was written.
UnpackStatus run_items(RunState& state) {
    Unpacking dir{&state.control_decoder};
    for (;;) {
        const ItemKind kind = code_item_kind(dir, state.control_probs, state.previous_special, ItemKind::Raw);
        // Past the end of its block the control decoder announces items made of garbage, and a stream
        // of repeat items would cost no archive bytes at all: stop before running any of them.
        if (decoder_overran(state.control_decoder)) return UnpackStatus::Corrupt;
        if (state.observer.item_begins) state.observer.item_begins(state.observer.context, kind);
        const int32_t item_start = reader_position(state.reader);
        ItemResult result = ItemResult::Done;
        if (kind == ItemKind::Raw) {
            bool end_marker = false;
            result = unpack_raw_item(state.reader, state.raw_buffer, state.output, end_marker);
            if (result == ItemResult::Done && end_marker) return UnpackStatus::Ok; // not an item to report
        } else if (kind == ItemKind::Repeat) {
            result =
                unpack_repeat_item(*state.stream_driver, state.control_decoder, state.output, state.events);
        } else {
            result = unpack_stream_item(*state.stream_driver, state.reader, state.control_decoder,
                                        state.control_probs, state.output, state.events);
        }
        report_item(state, kind, result, item_start);
        const UnpackStatus status = item_status(state, result);
        if (status != UnpackStatus::Ok) return status;
    }
}

UnpackStatus run_archive(RunState& state, const ArchiveInput& input) {
    state.stream_driver = create_stream_driver(state.settings.slot_selector, state.settings.carry_over);
    if (!state.stream_driver) return UnpackStatus::OutOfMemory;
    UnpackStatus status = UnpackStatus::OutOfMemory;
    if (start_reader(state, input)) {
        status = start_control_decoder(state);
        if (status == UnpackStatus::Ok) status = run_items(state);
    }
    // Only a run that otherwise ended well is reported as incomplete: a corrupt or short archive
    // already says that less came out than it describes.
    if (status == UnpackStatus::Ok && state.incomplete_items > 0) status = UnpackStatus::Incomplete;
    destroy_stream_driver(state.stream_driver);
    state.stream_driver = nullptr;
    std::free(state.control_block);
    state.control_block = nullptr;
    release_raw_item_buffer(state.raw_buffer);
    reader_stop(state.reader);
    return status;
}

} // namespace

UnpackStatus read_archive_header(const ArchiveInput& input, ArchiveSettings& settings) {
    uint8_t header[kArchiveHeaderSize] = {};
    return check_header(header, read_header(input, header), settings);
}

UnpackStatus unpack_items(const ArchiveInput& input, const ArchiveSettings& settings,
                          const OutputSink& output, const CodecEvents& events, const ItemObserver& observer) {
    auto* state = new (std::nothrow) RunState;
    if (!state) return UnpackStatus::OutOfMemory;
    std::fill(std::begin(state->control_probs), std::end(state->control_probs), kProbInit);
    state->output = output;
    state->events = events;
    state->observer = observer;
    state->settings = settings;
    const UnpackStatus status = run_archive(*state, input);
    delete state;
    return status;
}

UnpackStatus unpack_archive(const ArchiveInput& input, const OutputSink& output, const CodecEvents& events) {
    ArchiveSettings settings;
    const UnpackStatus status = read_archive_header(input, settings);
    return status == UnpackStatus::Ok ? unpack_items(input, settings, output, events) : status;
}
