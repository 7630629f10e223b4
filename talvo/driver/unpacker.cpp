#include "driver/unpacker.h"

#include "driver/driver_state.h"
#include "driver/raw_item.h"
#include "driver/repeat_item.h"
#include "driver/stream_item.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

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

bool start_reader(DriverState& state, const ArchiveInput& input) {
    if (input.file) return reader_start_file(state.reader, input.file);
    return reader_start_memory(state.reader, input.data + kArchiveHeaderSize,
                               input.size - kArchiveHeaderSize);
}

UnpackStatus start_control_decoder(DriverState& state) {
    state.control_block = read_block(state.reader, state.control_length);
    if (!state.control_block)
        return reader_is_exhausted(state.reader) ? UnpackStatus::UnexpectedEnd : UnpackStatus::OutOfMemory;
    init_decoder(state.control_decoder, state.control_block, static_cast<int32_t>(state.control_length));
    return UnpackStatus::Ok;
}

UnpackStatus run_items(DriverState& state) {
    Unpacking dir{&state.control_decoder};
    for (;;) {
        const ItemKind kind = code_item_kind(dir, state.control_probs, state.previous_special, ItemKind::Raw);
        // Past the end of its block the control decoder announces items made of garbage, and a stream
        // of repeat items would cost no archive bytes at all: stop before running any of them.
        if (decoder_overran(state.control_decoder)) return UnpackStatus::Corrupt;
        UnpackStatus status = UnpackStatus::Ok;
        if (kind == ItemKind::Raw) {
            bool end_marker = false;
            status = run_raw_item(state, end_marker);
            if (status == UnpackStatus::Ok && end_marker) return UnpackStatus::Ok;
        } else if (kind == ItemKind::Repeat) {
            status = run_repeat_item(state);
        } else {
            status = run_stream_item(state);
        }
        if (status != UnpackStatus::Ok) return status;
    }
}

UnpackStatus run_archive(DriverState& state, const ArchiveInput& input) {
    if (!stream_driver_setup(state)) return UnpackStatus::OutOfMemory;
    UnpackStatus status = UnpackStatus::OutOfMemory;
    if (start_reader(state, input)) {
        status = start_control_decoder(state);
        if (status == UnpackStatus::Ok) status = run_items(state);
    }
    // Only a run that otherwise ended well is reported as incomplete: a corrupt or short archive
    // already says that less came out than it describes.
    if (status == UnpackStatus::Ok && state.incomplete_items > 0) status = UnpackStatus::Incomplete;
    stream_driver_release(state);
    std::free(state.control_block);
    state.control_block = nullptr;
    std::free(state.raw_buffer);
    state.raw_buffer = nullptr;
    state.raw_capacity = 0;
    reader_stop(state.reader);
    return status;
}

} // namespace

UnpackStatus read_archive_header(const ArchiveInput& input, ArchiveSettings& settings) {
    uint8_t header[kArchiveHeaderSize] = {};
    return check_header(header, read_header(input, header), settings);
}

UnpackStatus unpack_items(const ArchiveInput& input, const ArchiveSettings& settings,
                          const OutputSink& output) {
    auto* state = new (std::nothrow) DriverState;
    if (!state) return UnpackStatus::OutOfMemory;
    std::fill(std::begin(state->control_probs), std::end(state->control_probs), kProbInit);
    state->output = output;
    state->settings = settings;
    const UnpackStatus status = run_archive(*state, input);
    delete state;
    return status;
}

UnpackStatus unpack_archive(const ArchiveInput& input, const OutputSink& output) {
    ArchiveSettings settings;
    const UnpackStatus status = read_archive_header(input, settings);
    return status == UnpackStatus::Ok ? unpack_items(input, settings, output) : status;
}
