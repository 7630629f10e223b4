#pragma once

// One whole unpack run: header, control block, every item up to the end marker, teardown. The command
// line, the packer's in-memory verification and fuzzers all run archives through here.

#include "archive/archive_extension.h"
#include "coder/range_decoder.h"
#include "ogg/output_sink.h"
#include "unpack/item_observer.h"
#include "unpack/unpack_status.h"
#include "vorbis/codec_events.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// An archive read while it is being made (the packer verifies it alongside the pass that writes it).
// Its control block goes ahead of its items but is complete only after them, and a decoder reads a few
// bytes ahead of the decisions it takes, so the control sub-stream comes as it is coded: before each
// item, a sub-stream that holds every decision up to that item (the one coded so far, flushed), and at
// last the archive's own. The decoder moves from one to the next where it stands, which keeps every
// decision it took only where the next one holds them too; it checks that it does. `items` gives
// everything after the control block (items, end marker, extension), waiting for bytes that are not
// there yet, and fewer than asked only where the archive ends.
// A control sub-stream as a pipe gives it, grown in place: its first `settled` bytes stay as they are
// in every later one.
struct PipedControl {
    uint8_t* bytes = nullptr; // malloc'd, grown by the pipe, freed by the unpacker
    size_t length = 0;
    size_t capacity = 0;
    size_t settled = 0;
    uint64_t items = 0; // the items whose decisions it holds (all of them when whole)
    bool whole = false; // the archive's own
};

struct ArchivePipe {
    // Waits until item `item` (counted from 0, the end marker included) and every control decision
    // before it are coded, and makes `control` a sub-stream that holds them, writing only past its
    // settled bytes. False when the archive will not come, or memory runs out.
    bool (*control_through)(void* context, uint64_t item, PipedControl& control) = nullptr;
    ByteSource items{};
    // Asked once the items have run to their end marker: the control block's bytes in the archive,
    // its length code included.
    uint64_t (*control_block_bytes)(void* context) = nullptr;
    void* context = nullptr;
    // Set by the unpacker: the run reached the archive's own control sub-stream, every move consistent
    // with the decisions taken before it, so a decoder over the whole block takes the same decisions.
    bool control_proved = false;
};

// The archive: an open file positioned at its start, bytes in memory (when `file` is null), or, with
// a pipe, the header in memory and the rest from the pipe.
struct ArchiveInput {
    FILE* file = nullptr;
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool file_on_this_thread = false; // a file is read on the unpacking thread, without a reader thread
    ArchivePipe* pipe = nullptr;
};

// What the flags byte selects.
struct ArchiveSettings {
    uint8_t slot_selector = 0; // codebook slot table of 2^(s+4) slots
    bool carry_over = false;   // statistics adapt across logical streams
};

// Reads the seven header bytes and checks them: Ok with the settings, InvalidHeader (a wrong or short
// magic) or InvalidFormat (a slot selector above 3).
UnpackStatus read_archive_header(const ArchiveInput& input, ArchiveSettings& settings);

// How the checksum extension after a member's end marker came out.
enum class ChecksumState : uint8_t {
    Absent,        // no extension follows the end marker (an archive made without one)
    Matched,       // the restored bytes have the length and checksum it records
    Mismatched,    // they do not
    Damaged,       // a frame begins after the end marker but does not hold together
    NotUnderstood, // a sound frame of a later version, or one without a content record: not checked
    NotReached,    // the member failed before its end marker
};

// One archive member: an archive from its magic to its end marker, and its extension if it has one.
struct MemberReport {
    uint64_t offset = 0; // where its magic begins in the input
    uint64_t length = 0; // up to and including its end marker (as far as it was read, when it failed)
    ArchiveSettings settings;
    UnpackStatus status = UnpackStatus::Ok;
    uint64_t items = 0; // items reported to the observer
    uint64_t restored_bytes = 0;
    uint64_t restored_checksum = 0;
    ChecksumState checksum = ChecksumState::NotReached;
    ContentDigest recorded; // what the extension records (Matched, Mismatched)
    uint32_t extension_bytes = 0;
    // The input ends in an extension, so it goes on past where this member's items ran out of it: an
    // item's length ran into bytes that are not items. Damage, reported as Corrupt, not as a short archive.
    bool ran_past_known_end = false;
};

// Every member of an input, and what follows the last one.
struct ArchiveReport {
    std::vector<MemberReport> members;
    uint64_t trailing_offset = 0; // bytes after the last member that are neither an extension nor a member
    uint64_t trailing_bytes = 0;
};

// Runs the items after the header (which read_archive_header has read) into `output`, up to the end
// marker, and checks the restored bytes against the extension that follows it, if one does: a
// mismatch is ChecksumMismatch, a frame that does not hold together ChecksumDamaged. Nothing after
// that is read (the first member of a concatenation only). The output keeps whatever was written
// before a failure. What the codecs report goes to `events`, in the order it happens (nowhere without
// a callback), and each item's start and end to `observer`.
UnpackStatus unpack_items(const ArchiveInput& input, const ArchiveSettings& settings,
                          const OutputSink& output, const CodecEvents& events = {},
                          const ItemObserver& observer = {}, MemberReport* report = nullptr);

// As unpack_items, and then every member that follows, each into the same output (a concatenation of
// archives restores as the concatenation of what they hold). Bytes after the last member that are
// neither an extension nor a member end the run with TrailingData. The first member that fails ends
// the run with its status.
UnpackStatus unpack_members(const ArchiveInput& input, const ArchiveSettings& settings,
                            const OutputSink& output, const CodecEvents& events, const ItemObserver& observer,
                            ArchiveReport& report);

// The header and unpack_items: a whole archive into `output` (in memory, or an output that exists
// already).
UnpackStatus unpack_archive(const ArchiveInput& input, const OutputSink& output,
                            const CodecEvents& events = {});
