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

// A reader that comes forward finds an extension (or the next member) where its end marker ends, or a
// few bytes further: a range decoder may leave the last bytes of its sub-stream untaken, and the
// reader is then that many bytes short of where the writer put the end marker. The member length the
// extension records tells which offset is the right one.
constexpr size_t kExtensionSearchSlack = 16;

// What lasts from one member to the next: the input, the restored bytes' checksum, the raw-item buffer.
struct Session {
    ArchiveReader reader;
    OutputSink downstream;
    CodecEvents events;
    ItemObserver observer;
    RawItemBuffer raw_buffer;
    ContentHasher* hasher = nullptr;
    uint64_t restored = 0;      // bytes the member under way restored
    uint64_t header_offset = 0; // input bytes before the reader's first (the first member's header)
    MemberReport* member = nullptr;
    ArchivePipe* pipe = nullptr;
};

// One member's run: its control decoder, models, tables and stores.
struct RunState {
    Session* session = nullptr;
    RangeDecoder control_decoder;
    uint16_t control_probs[kControlProbCount]{};
    int previous_special = 0;
    uint8_t* control_block = nullptr;
    uint32_t control_length = 0;
    PipedControl piped;           // the piped control sub-stream the decoder reads now
    uint64_t items_announced = 0; // item kinds taken from the control sub-stream
    OutputSink output;            // the session's checksumming sink
    ArchiveSettings settings;
    StreamDriver* stream_driver = nullptr; // models, tables and stores kept across stream items
    // Items that ended without restoring everything they describe; the run goes on after each, and
    // reports the archive restored incompletely at its end.
    uint32_t incomplete_items = 0;
};

bool checksum_write(void* context, const uint8_t* bytes, size_t n) {
    auto& session = *static_cast<Session*>(context);
    hasher_update(session.hasher, bytes, n);
    session.restored += n;
    return sink_write(session.downstream, bytes, n);
}

uint64_t input_offset(const Session& session) {
    return session.header_offset + reader_offset(session.reader);
}

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

bool start_reader(Session& session, const ArchiveInput& input) {
    session.header_offset = kArchiveHeaderSize;
    if (input.pipe) return reader_start_source(session.reader, &input.pipe->items);
    if (input.file) return reader_start_file(session.reader, input.file, input.file_on_this_thread);
    return reader_start_memory(session.reader, input.data + kArchiveHeaderSize,
                               input.size - kArchiveHeaderSize);
}

UnpackStatus start_control_decoder(RunState& state) {
    if (state.session->pipe) return UnpackStatus::Ok; // it comes with the first item
    ArchiveReader& reader = state.session->reader;
    state.control_block = read_block(reader, state.control_length);
    if (!state.control_block)
        return reader_is_exhausted(reader) ? UnpackStatus::UnexpectedEnd : UnpackStatus::OutOfMemory;
    init_decoder(state.control_decoder, state.control_block, static_cast<int32_t>(state.control_length));
    return UnpackStatus::Ok;
}

// The difference of the numbers that the `n` bytes at `a` and at `b` stand for (most significant
// first), when it lies within 32 bits either way; false otherwise.
bool bytes_difference(const uint8_t* a, const uint8_t* b, size_t n, int64_t& difference) {
    uint64_t low = 0;
    bool borrow = false, high_zero = true, high_ones = true;
    for (size_t k = 0; k < n; ++k) {
        const size_t at = n - 1 - k;
        const int d = int{a[at]} - int{b[at]} - (borrow ? 1 : 0);
        borrow = d < 0;
        const auto byte = static_cast<uint8_t>(d + (borrow ? 256 : 0));
        if (k < 4) {
            low |= uint64_t{byte} << (8 * k);
        } else {
            high_zero = high_zero && byte == 0;
            high_ones = high_ones && byte == 0xFF;
        }
    }
    if (!borrow && high_zero) {
        difference = static_cast<int64_t>(low);
        return true;
    }
    if (borrow && high_ones) {
        difference = static_cast<int64_t>(low) - (int64_t{1} << 32);
        return true;
    }
    return false;
}

// Before the next item kind of a piped archive, where the control sub-stream at hand does not hold its
// decisions: the decoder moves to one that does. A decoder over the new bytes, having taken the same
// decisions, stands where this one stands with the same range; its code differs by what the bytes taken
// so far differ by (only those past the settled ones can), and lies within the range only where the new
// bytes hold the decisions taken. False when they do not, or when the archive will not come.
bool move_piped_control(RunState& state) {
    ArchivePipe& pipe = *state.session->pipe;
    PipedControl& piped = state.piped;
    const uint64_t item = state.items_announced++;
    const bool started = piped.bytes != nullptr;
    if (started && (piped.whole || item < piped.items)) return true;
    RangeDecoder& dec = state.control_decoder;
    // The bytes taken that the pipe may write over, kept to compare.
    const size_t taken = started ? static_cast<size_t>(dec.cursor - dec.buffer_start) : 0;
    const size_t from = std::min(piped.settled, taken);
    const size_t unsettled = taken - from;
    uint8_t* before = unsettled > 0 ? static_cast<uint8_t*>(std::malloc(unsettled)) : nullptr;
    if (unsettled > 0 && !before) return false;
    if (before) std::memcpy(before, piped.bytes + from, unsettled);
    bool moved = pipe.control_through(pipe.context, item, piped);
    // Four bytes or fewer start a decoder on zeros; a decoder past its bytes has read what is not there.
    moved = moved && piped.length > 4 && piped.length <= static_cast<size_t>(INT32_MAX);
    if (moved && !started) {
        init_decoder(dec, piped.bytes, static_cast<int32_t>(piped.length));
    } else if (moved) {
        int64_t difference = 0;
        // Only the archive's own may be taken to its end, and then it is used up, as a decoder over
        // it that took its last byte is.
        moved = !dec.used_up && dec.overrun == 0 && dec.remaining > 4 &&
                (taken < piped.length || (piped.whole && taken == piped.length)) &&
                bytes_difference(piped.bytes + from, before, unsettled, difference);
        const int64_t code = int64_t{dec.code} + difference;
        moved = moved && code >= 0 && code < int64_t{dec.range};
        if (moved) {
            dec.code = static_cast<uint32_t>(code);
            dec.buffer_start = piped.bytes;
            dec.buffer_end = piped.bytes + piped.length;
            dec.used_up = taken == piped.length;
            dec.cursor = piped.bytes + (dec.used_up ? taken - 1 : taken);
            dec.remaining = static_cast<int32_t>(piped.length);
        }
    }
    std::free(before);
    if (moved) pipe.control_proved = piped.whole;
    return moved;
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
        return reader_is_exhausted(state.session->reader) ? UnpackStatus::UnexpectedEnd
                                                          : UnpackStatus::Corrupt;
    }
    return UnpackStatus::Ok;
}

void report_item(RunState& state, ItemKind kind, ItemResult result, int32_t item_start) {
    Session& session = *state.session;
    if (session.member) ++session.member->items;
    if (!session.observer.item_ends) return;
    ItemReport report;
    report.kind = kind;
    report.result = result;
    // Positions wrap modulo 2^32; an item's extent is their difference.
    report.archive_bytes =
        static_cast<uint32_t>(reader_position(session.reader)) - static_cast<uint32_t>(item_start);
    StreamContext& ctx = *state.stream_driver->ctx;
    report.headers_copied = kind == ItemKind::Stream && ctx.headers_copied != 0;
    ctx.headers_copied = 0; // an item that fails before its headers leaves no stale answer
    report.slots_used = state.stream_driver->slots.used_count;
    session.observer.item_ends(session.observer.context, report);
}

// Every item up to the end marker. A failed stream or repeat item ends that item only; a sub-stream
// decoder (or the control decoder) that ran past its end means a corrupt archive and ends the run,
// keeping what was written.
UnpackStatus run_items(RunState& state) {
    Session& session = *state.session;
    Unpacking dir{&state.control_decoder};
    for (;;) {
        if (session.pipe && !move_piped_control(state)) return UnpackStatus::Corrupt;
        const ItemKind kind = code_item_kind(dir, state.control_probs, state.previous_special, ItemKind::Raw);
        // Past the end of its block the control decoder announces items made of garbage, and a stream
        // of repeat items would cost no archive bytes at all: stop before running any of them.
        if (decoder_overran(state.control_decoder)) return UnpackStatus::Corrupt;
        if (session.observer.item_begins) session.observer.item_begins(session.observer.context, kind);
        const int32_t item_start = reader_position(session.reader);
        ItemResult result = ItemResult::Done;
        if (kind == ItemKind::Raw) {
            bool end_marker = false;
            result = unpack_raw_item(session.reader, session.raw_buffer, state.output, end_marker);
            if (result == ItemResult::Done && end_marker) return UnpackStatus::Ok; // not an item to report
        } else if (kind == ItemKind::Repeat) {
            result =
                unpack_repeat_item(*state.stream_driver, state.control_decoder, state.output, session.events);
        } else {
            result = unpack_stream_item(*state.stream_driver, session.reader, state.control_decoder,
                                        state.control_probs, state.output, session.events);
        }
        report_item(state, kind, result, item_start);
        const UnpackStatus status = item_status(state, result);
        if (status != UnpackStatus::Ok) return status;
    }
}

// Whether the input ends in an extension's fixed-size end that fits in it: then the input is known to
// go on past any member whose items ran into its end, and that member is damaged, not cut short.
bool input_ends_in_extension(const Session& session) {
    const uint8_t* tail = nullptr;
    size_t tail_length = 0;
    uint64_t input_bytes = 0;
    if (!reader_input_end(session.reader, tail, tail_length, input_bytes)) return false;
    if (tail_length < kExtensionTrailerSize) return false;
    ExtensionTrailer trailer;
    if (!read_extension_trailer(tail + tail_length - kExtensionTrailerSize, trailer)) return false;
    const uint64_t total = session.header_offset + input_bytes;
    if (trailer.member_length > total || trailer.length > total - trailer.member_length) return false;
    // A frame the kept bytes hold whole must pass its own check as well.
    if (trailer.length > tail_length) return true;
    ExtensionFrame frame;
    return parse_extension(tail + tail_length - trailer.length, trailer.length, frame);
}

// One member's items, from the control block to the end marker.
UnpackStatus run_member(Session& session, const ArchiveSettings& settings) {
    auto* state = new (std::nothrow) RunState;
    if (!state) return UnpackStatus::OutOfMemory;
    std::fill(std::begin(state->control_probs), std::end(state->control_probs), kProbInit);
    state->session = &session;
    state->output = OutputSink{&session, checksum_write};
    state->settings = settings;
    hasher_reset(session.hasher);
    session.restored = 0;
    UnpackStatus status = UnpackStatus::OutOfMemory;
    state->stream_driver = create_stream_driver(settings.slot_selector, settings.carry_over);
    if (state->stream_driver) {
        status = start_control_decoder(*state);
        if (status == UnpackStatus::Ok) status = run_items(*state);
    }
    // What the pipe left out goes before the reader's bytes.
    if (session.pipe && status == UnpackStatus::Ok)
        session.header_offset = kArchiveHeaderSize + session.pipe->control_block_bytes(session.pipe->context);
    // Only a run that otherwise ended well is reported as incomplete: a corrupt or short archive
    // already says that less came out than it describes.
    if (status == UnpackStatus::Ok && state->incomplete_items > 0) status = UnpackStatus::Incomplete;
    destroy_stream_driver(state->stream_driver);
    std::free(state->control_block);
    std::free(state->piped.bytes);
    delete state;
    if (status == UnpackStatus::UnexpectedEnd && input_ends_in_extension(session)) {
        if (session.member) session.member->ran_past_known_end = true;
        status = UnpackStatus::Corrupt;
    }
    return status;
}

// Reads up to n bytes; how many came.
size_t read_up_to(ArchiveReader& reader, uint8_t* dst, size_t n) {
    return static_cast<size_t>(std::max(0, read_bytes(reader, dst, static_cast<int32_t>(n))));
}

// Reads the frame that begins here, whole; false when the input ends first or memory runs out.
bool read_frame(ArchiveReader& reader, std::vector<uint8_t>& frame) {
    frame.assign(kExtensionHeaderSize, 0);
    if (read_up_to(reader, frame.data(), kExtensionHeaderSize) < kExtensionHeaderSize) return false;
    const uint32_t length = extension_length_from_header(frame.data());
    if (length == 0) return false;
    // In steps, as the bytes arrive: a damaged length must not claim a gigabyte up front.
    constexpr size_t kStep = size_t{1} << 16;
    try {
        while (frame.size() < length) {
            const size_t have = frame.size();
            const size_t want = std::min<size_t>(kStep, length - have);
            frame.resize(have + want);
            if (read_up_to(reader, frame.data() + have, want) < want) return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

enum class AfterMarker : uint8_t { Nothing, Extension, Member, Other };

// What begins here, or up to `slack` bytes later: an extension, the next member, other bytes, or the end
// of the input. The reader is left where what was found begins (where it stood for other bytes).
AfterMarker look_ahead(ArchiveReader& reader, size_t slack) {
    const int32_t start = reader_position(reader);
    uint8_t window[kExtensionSearchSlack + sizeof kExtensionMagic] = {};
    const size_t got = read_up_to(reader, window, sizeof window);
    reader_set_position(reader, start);
    if (got == 0) return AfterMarker::Nothing;
    for (size_t k = 0; k <= slack && k < got; ++k) {
        const size_t left = got - k;
        AfterMarker found = AfterMarker::Other;
        if (left >= sizeof kExtensionMagic &&
            std::memcmp(window + k, kExtensionMagic, sizeof kExtensionMagic) == 0)
            found = AfterMarker::Extension;
        else if (left >= sizeof kArchiveMagic &&
                 std::memcmp(window + k, kArchiveMagic, sizeof kArchiveMagic) == 0)
            found = AfterMarker::Member;
        if (found == AfterMarker::Other) continue;
        uint8_t skipped[kExtensionSearchSlack];
        read_up_to(reader, skipped, k);
        return found;
    }
    return AfterMarker::Other;
}

// After a member's end marker: its extension, if one follows, read and checked against what the
// member restored. Returns the member's status with the check's verdict.
UnpackStatus check_extension(Session& session, MemberReport& member, UnpackStatus status, AfterMarker after) {
    member.restored_bytes = session.restored;
    member.restored_checksum = hasher_digest(session.hasher);
    member.checksum = ChecksumState::Absent;
    if (after != AfterMarker::Extension) return status;
    const uint64_t frame_offset = input_offset(session);
    std::vector<uint8_t> bytes;
    ExtensionFrame frame;
    if (!read_frame(session.reader, bytes) || !parse_extension(bytes.data(), bytes.size(), frame) ||
        frame.member_length != frame_offset - member.offset) {
        member.checksum = ChecksumState::Damaged;
        return status == UnpackStatus::Ok ? UnpackStatus::ChecksumDamaged : status;
    }
    member.length = frame_offset - member.offset;
    member.extension_bytes = static_cast<uint32_t>(bytes.size());
    if (frame.version != kExtensionVersion || !find_content(frame, member.recorded)) {
        member.checksum = ChecksumState::NotUnderstood;
        return status;
    }
    const bool same = member.recorded.length == member.restored_bytes &&
                      member.recorded.checksum == member.restored_checksum;
    member.checksum = same ? ChecksumState::Matched : ChecksumState::Mismatched;
    // An incomplete restore differs from the checksum as a matter of course; it says more itself.
    if (status == UnpackStatus::Ok && !same) return UnpackStatus::ChecksumMismatch;
    return status;
}

// The member that begins here: its items, then its extension. Sets `after` to what follows it.
UnpackStatus run_member_and_extension(Session& session, MemberReport& member, AfterMarker& after) {
    session.member = &member;
    UnpackStatus status = run_member(session, member.settings);
    member.length = input_offset(session) - member.offset;
    after = AfterMarker::Nothing;
    if (status != UnpackStatus::Ok && status != UnpackStatus::Incomplete) {
        member.restored_bytes = session.restored;
        member.status = status;
        return status;
    }
    after = look_ahead(session.reader, kExtensionSearchSlack);
    if (after == AfterMarker::Member) member.length = input_offset(session) - member.offset;
    status = check_extension(session, member, status, after);
    // What follows an extension begins exactly where the extension ends.
    if (after == AfterMarker::Extension) after = look_ahead(session.reader, 0);
    member.status = status;
    return status;
}

bool open_session(Session& session, const ArchiveInput& input, const OutputSink& output,
                  const CodecEvents& events, const ItemObserver& observer) {
    session.downstream = output;
    session.events = events;
    session.observer = observer;
    session.pipe = input.pipe;
    session.hasher = hasher_create();
    return session.hasher && start_reader(session, input);
}

void close_session(Session& session) {
    hasher_destroy(session.hasher);
    session.hasher = nullptr;
    release_raw_item_buffer(session.raw_buffer);
    reader_stop(session.reader);
}

// Counts the bytes left in the input (trailing data), reading them.
uint64_t count_rest(ArchiveReader& reader) {
    uint8_t buffer[1 << 12];
    uint64_t total = 0;
    for (size_t got = 0; (got = read_up_to(reader, buffer, sizeof buffer)) > 0;)
        total += got;
    return total;
}

} // namespace

UnpackStatus read_archive_header(const ArchiveInput& input, ArchiveSettings& settings) {
    uint8_t header[kArchiveHeaderSize] = {};
    return check_header(header, read_header(input, header), settings);
}

UnpackStatus unpack_items(const ArchiveInput& input, const ArchiveSettings& settings,
                          const OutputSink& output, const CodecEvents& events, const ItemObserver& observer,
                          MemberReport* report) {
    auto* session = new (std::nothrow) Session;
    if (!session) return UnpackStatus::OutOfMemory;
    MemberReport member;
    member.settings = settings;
    UnpackStatus status = UnpackStatus::OutOfMemory;
    if (open_session(*session, input, output, events, observer)) {
        AfterMarker after = AfterMarker::Nothing;
        status = run_member_and_extension(*session, member, after);
    }
    close_session(*session);
    delete session;
    if (report) *report = member;
    return status;
}

UnpackStatus unpack_members(const ArchiveInput& input, const ArchiveSettings& settings,
                            const OutputSink& output, const CodecEvents& events, const ItemObserver& observer,
                            ArchiveReport& report) {
    report = ArchiveReport{};
    auto* session = new (std::nothrow) Session;
    if (!session) return UnpackStatus::OutOfMemory;
    UnpackStatus status = UnpackStatus::OutOfMemory;
    if (open_session(*session, input, output, events, observer)) {
        MemberReport first;
        first.settings = settings;
        report.members.push_back(first);
        for (;;) {
            AfterMarker after = AfterMarker::Nothing;
            status = run_member_and_extension(*session, report.members.back(), after);
            if (status != UnpackStatus::Ok || after == AfterMarker::Nothing) break;
            const uint64_t next = input_offset(*session);
            uint8_t header[kArchiveHeaderSize] = {};
            const size_t got =
                after == AfterMarker::Member ? read_up_to(session->reader, header, sizeof header) : 0;
            MemberReport member;
            member.offset = next;
            if (after == AfterMarker::Member &&
                check_header(header, got, member.settings) == UnpackStatus::Ok) {
                report.members.push_back(member);
                continue;
            }
            // Neither an extension nor a member: counted, shown, never restored.
            report.trailing_offset = next;
            report.trailing_bytes = got + count_rest(session->reader);
            status = UnpackStatus::TrailingData;
            break;
        }
    }
    close_session(*session);
    delete session;
    return status;
}

UnpackStatus unpack_archive(const ArchiveInput& input, const OutputSink& output, const CodecEvents& events) {
    ArchiveSettings settings;
    const UnpackStatus status = read_archive_header(input, settings);
    return status == UnpackStatus::Ok ? unpack_items(input, settings, output, events) : status;
}
