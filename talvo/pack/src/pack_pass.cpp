#include "pack/pack_pass.h"

#include "archive/archive_writer.h"
#include "archive/repeat_item.h"
#include "archive/stream_item_driver.h"
#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>

namespace {

using Bytes = std::vector<uint8_t>;

const char* end_reason_text(RunEnd reason) {
    switch (reason) {
    case RunEnd::LastPage:
        break;
    case RunEnd::InputEnds:
        return "stream cut short (no last page)";
    case RunEnd::Damaged:
        return "damaged page or foreign bytes inside the stream";
    case RunEnd::Interleaved:
        return "pages interleaved with another logical stream";
    case RunEnd::Restarted:
        return "stream restarted with the same serial number";
    }
    return "";
}

struct DriverDeleter {
    void operator()(StreamDriver* driver) const { destroy_stream_driver(driver); }
};

// The unpacker's records in one of its stores, as the runs whose pages they hold (oldest first).
using StoreRecords = std::vector<size_t>;

// One pass: the archive being written and the packer's mirror of what the unpacker will hold when it
// reads each item (the stream item driver built from the same flags byte, and the runs in its stores).
// Raw bytes wait in [raw_begin, raw_end) until an item that is not raw (or the end) comes, so that
// adjacent raw runs share items.
struct Pass {
    const uint8_t* data;
    size_t size;
    const OggScan& scan;
    const std::vector<RunPlan>& plans;
    const PassSettings& settings;
    std::unique_ptr<StreamDriver, DriverDeleter> driver;
    ArchiveWriter writer;
    size_t raw_begin = 0;
    size_t raw_end = 0;
    StoreRecords stream_records;
    StoreRecords header_records;
    size_t stored_bytes = 0; // page bytes the unpacker's stores hold by now
    InputRelease release;    // told of the input's bytes as they are read
};

void flush_raw(Pass& pass) {
    // In whole items at a time, as one call would cut them, with the input's release told in between.
    const size_t item = std::clamp<size_t>(pass.settings.max_raw_item, 1, kMaxLengthCode);
    const size_t chunk = item * std::max<size_t>(1, kInputReleaseInterval / item);
    for (size_t at = pass.raw_begin; at < pass.raw_end; at += chunk) {
        const size_t n = std::min(chunk, pass.raw_end - at);
        writer_add_raw_bytes(pass.writer, pass.data + at, n, pass.settings.max_raw_item);
        note_input_read(pass.release, n);
    }
    pass.raw_begin = pass.raw_end;
}

// The recency index of the newest record whose pages equal `range`, or -1.
int32_t find_record(const Pass& pass, const StoreRecords& records, PageRange range, bool headers) {
    for (size_t i = records.size(); i-- > 0;) {
        const RunPlan& plan = pass.plans[records[i]];
        if (pages_equal_but_serial(pass.data, pass.scan, headers ? plan.headers : plan.pages, range))
            return static_cast<int32_t>(records.size() - 1 - i);
    }
    return -1;
}

std::vector<OggPage> pages_of(const Pass& pass, const ScanRun& run, size_t count) {
    std::vector<OggPage> pages;
    for (size_t p = 0; p < count; ++p) {
        const ScannedPage& page = pass.scan.pages[run.first_page + p];
        pages.push_back(OggPage{pass.data + page.offset, static_cast<uint32_t>(page.size)});
    }
    return pages;
}

// A stream's pages as they are taken: the bytes before the page being modelled are done.
struct StreamProgress {
    const Pass& pass;
    const std::vector<OggPage>& pages;
};

void tell_page_taken(void* context, int32_t index) {
    const auto& stream = *static_cast<const StreamProgress*>(context);
    const uint8_t* page = stream.pages[static_cast<size_t>(index)].data;
    const Pass& pass = stream.pass;
    // The failing page that ends a stream modelled in part is not the file's.
    if (page < pass.data || page >= pass.data + pass.size) return;
    pass.settings.progress(pass.settings.progress_context, static_cast<size_t>(page - pass.data), pass.size);
}

// A stream item of `pages`, announced and coded, or nothing (the writer as before) with the reason.
bool code_stream_item(Pass& pass, const std::vector<OggPage>& pages, const StreamItemChoices& choices,
                      std::string& why) {
    const ArchiveWriterMark mark = writer_mark(pass.writer);
    writer_begin_stream_item(pass.writer, choices.remember);
    RangeEncoder aux, page, data;
    // A modelled stream comes to about two thirds of its pages: room for all of them means the data
    // sub-stream is never moved as it grows (pages not written to are never touched).
    size_t stream_bytes = 0;
    for (const OggPage& p : pages)
        stream_bytes += p.size;
    data.out.reserve(stream_bytes);
    StreamProgress progress{pass, pages};
    PageProgress page_progress;
    if (pass.settings.progress) page_progress = PageProgress{&progress, tell_page_taken};
    if (!pack_stream_item(*pass.driver, pages.data(), pages.size(), choices, pass.writer.control,
                          pass.writer.control_probs, aux, page, data, page_progress)) {
        writer_rollback(pass.writer, mark);
        why = "the encoder made a choice the model cannot express";
        return false;
    }
    if (!writer_end_stream_item(pass.writer, aux, page, data)) {
        writer_rollback(pass.writer, mark);
        why = "a sub-stream is too long for the archive";
        return false;
    }
    return true;
}

void store_raw(Pass& pass, const ScanRun& run, PackedRun& out, std::string why) {
    out.kind = ItemChoice::Raw;
    out.why = std::move(why);
    out.out_bytes = run.end - run.begin;
    pass.raw_end = run.end;
}

// A page that claims to continue a packet where a new packet must begin: the unpacker's page start
// fails on it and ends the stream item without writing it.
Bytes failing_page(const ScannedPage& last, const uint8_t* last_bytes) {
    Bytes page(kOggHeaderSize, 0);
    std::memcpy(page.data(), last_bytes, kOggHeaderSize);
    page[kOggHeaderType] = kOggContinued; // not first, not last
    write_le32(page.data() + kOggSequence, last.sequence + 1);
    page[kOggSegmentCount] = 0;
    write_le32(page.data() + kOggCrc, ogg_page_crc(page.data(), page.size()));
    return page;
}

// The leading pages of a Vorbis stream (at most `limit`, up to the last one that ends a packet) as a
// stream item that ends on a failing page start; the rest stays raw, for the reason `why_rest`. False
// when nothing was modelled.
bool model_leading_part(Pass& pass, const ScanRun& run, const RunPlan& plan, size_t limit,
                        const std::string& why_rest, PackedRun& out) {
    size_t keep = std::min(limit, run.page_count);
    while (keep > 0) {
        const ScannedPage& page = pass.scan.pages[run.first_page + keep - 1];
        if (page.segment_count > 0 &&
            pass.data[page.offset + kOggHeaderSize + page.segment_count - 1] < kLacingContinues)
            break;
        --keep;
    }
    if (plan.headers.count == 0 || keep <= plan.headers.first + plan.headers.count - run.first_page)
        return false;
    std::vector<OggPage> pages = pages_of(pass, run, keep);
    const ScannedPage& last = pass.scan.pages[run.first_page + keep - 1];
    const Bytes failing = failing_page(last, pass.data + last.offset);
    pages.push_back(OggPage{failing.data(), static_cast<uint32_t>(failing.size())});

    flush_raw(pass);
    const uint64_t items_before = writer_items_size(pass.writer);
    StreamItemChoices choices;
    choices.capture_headers = false;
    std::string why;
    if (!code_stream_item(pass, pages, choices, why)) return false;
    out.kind = ItemChoice::Stream;
    out.modelled_end = last.offset + last.size;
    out.out_bytes =
        static_cast<size_t>(writer_items_size(pass.writer) - items_before) + (run.end - out.modelled_end);
    out.why = why_rest;
    pass.raw_begin = out.modelled_end;
    pass.raw_end = run.end;
    return true;
}

// A complete stream equal to one the unpacker has stored: a repeat item.
bool repeat_stored_stream(Pass& pass, const ScanRun& run, const RunPlan& plan, PackedRun& out) {
    const int32_t index = find_record(pass, pass.stream_records, plan.pages, false);
    if (index < 0) return false;
    const ArchiveWriterMark mark = writer_mark(pass.writer);
    writer_begin_repeat_item(pass.writer);
    if (!pack_repeat_item(*pass.driver, pass.writer.control, static_cast<uint32_t>(index), run.serial)) {
        writer_rollback(pass.writer, mark);
        return false;
    }
    out.kind = ItemChoice::Repeat;
    out.modelled_end = run.end;
    pass.raw_begin = pass.raw_end = run.end;
    return true;
}

// A stream item can be left out after it was modelled only when the unpacker's state after it does
// not matter to later items: statistics start afresh for every stream, and no later item refers back
// to what the stream left in the stores.
bool can_drop_modelled_stream(uint8_t flags, const StreamItemChoices& choices) {
    const bool captured = choices.header_copy < 0 && choices.capture_headers;
    return !(flags & kFlagsCarryOver) && !choices.remember && !captured && choices.header_copy < 0;
}

// A complete stream: modelled whole (with its header set copied where an earlier stream has it, else
// coded), else its longest leading part that the model can express, else raw.
void model_complete_stream(Pass& pass, size_t r, const ScanRun& run, const RunPlan& plan, PackedRun& out) {
    const uint64_t items_before = writer_items_size(pass.writer);
    const std::vector<OggPage> pages = pages_of(pass, run, run.page_count);
    StreamItemChoices choices;
    // The stores are never emptied while the archive is restored: past their limit nothing more is
    // kept, and later streams are coded instead of repeated or copied.
    const size_t stream_bytes = run.end - run.begin;
    size_t header_bytes = 0;
    for (size_t p = 0; p < plan.headers.count; ++p)
        header_bytes += pass.scan.pages[plan.headers.first + p].size;
    const size_t room = pass.settings.store_limit - std::min(pass.stored_bytes, pass.settings.store_limit);
    choices.remember = plan.later_repeat && stream_bytes <= room;
    choices.capture_headers = plan.later_copy && header_bytes <= room - (choices.remember ? stream_bytes : 0);
    if (plan.headers.count > 0 && !(pass.settings.no_copy && (*pass.settings.no_copy)[r])) {
        choices.header_copy = find_record(pass, pass.header_records, plan.headers, true);
        if (choices.header_copy >= 0) choices.header_copy_pages = static_cast<int32_t>(plan.headers.count);
    }
    std::string why;
    const ArchiveWriterMark before = writer_mark(pass.writer);
    bool modelled = code_stream_item(pass, pages, choices, why);
    if (!modelled && choices.header_copy >= 0) {
        // The copy may be what the model cannot express; coding the headers themselves may work.
        choices.header_copy = -1;
        choices.header_copy_pages = 0;
        modelled = code_stream_item(pass, pages, choices, why);
    }
    if (!modelled) {
        // Something part way through may be what the model cannot express: keep the longest leading
        // part that it can, trying shorter and shorter ones (a cut that still covers the culprit fails
        // where the whole stream failed, so the misses cost little).
        pass.raw_begin = pass.raw_end = run.begin;
        const std::string rest = "part way through: " + why;
        bool partly = false;
        for (size_t cut = 1; cut <= run.page_count / 2 && !partly; cut *= 2)
            partly = model_leading_part(pass, run, plan, run.page_count - cut, rest, out);
        if (!partly) store_raw(pass, run, out, why);
        return;
    }
    out.out_bytes = static_cast<size_t>(writer_items_size(pass.writer) - items_before);
    if (out.out_bytes >= run.end - run.begin && can_drop_modelled_stream(pass.settings.flags, choices)) {
        writer_rollback(pass.writer, before);
        pass.raw_begin = pass.raw_end = run.begin;
        store_raw(pass, run, out, "modelled form larger than the stream itself");
        return;
    }
    // Kept (later items depend on what it left behind), but the next pass stores it raw.
    out.larger_than_raw = out.out_bytes >= run.end - run.begin;
    out.kind = choices.header_copy >= 0 ? ItemChoice::HeaderCopy : ItemChoice::Stream;
    out.modelled_end = run.end;
    if (choices.remember) {
        pass.stream_records.push_back(r);
        pass.stored_bytes += stream_bytes;
    }
    if (choices.header_copy < 0 && choices.capture_headers) {
        pass.header_records.push_back(r);
        pass.stored_bytes += header_bytes;
    }
    pass.raw_begin = pass.raw_end = run.end;
}

// One run of the scan, in file order.
void pack_run(Pass& pass, size_t r, PackedRun& out) {
    const ScanRun& run = pass.scan.runs[r];
    const RunPlan& plan = pass.plans[r];
    const PassSettings& settings = pass.settings;
    if (!run.vorbis) return store_raw(pass, run, out, "");
    if (settings.larger && (*settings.larger)[r])
        return store_raw(pass, run, out, "modelled form larger than the stream itself");
    if (settings.forced_raw && (*settings.forced_raw)[r])
        return store_raw(pass, run, out, "did not restore exactly in verification");
    if (!run.complete) {
        if (!model_leading_part(pass, run, plan, run.page_count, end_reason_text(run.end_reason), out))
            store_raw(pass, run, out, end_reason_text(run.end_reason));
        return;
    }
    flush_raw(pass);
    if (!repeat_stored_stream(pass, run, plan, out)) model_complete_stream(pass, r, run, plan, out);
}

} // namespace

std::vector<RunPlan> plan_runs(const uint8_t* data, const OggScan& scan, InputRelease release) {
    std::vector<RunPlan> plans(scan.runs.size());
    // Keys of the runs seen so far, walking backwards: a run is worth storing when one after it matches.
    std::unordered_multimap<uint64_t, size_t> later_streams, later_headers;
    for (size_t r = scan.runs.size(); r-- > 0;) {
        const ScanRun& run = scan.runs[r];
        if (!run.vorbis) continue;
        note_input_read(release, run.end - run.begin);
        RunPlan& plan = plans[r];
        plan.pages = PageRange{run.first_page, run.page_count};
        plan.headers = header_pages(data, scan, run);
        if (run.complete) {
            const uint64_t key = pages_key(data, scan, plan.pages);
            auto [lo, hi] = later_streams.equal_range(key);
            for (auto it = lo; it != hi && !plan.later_repeat; ++it)
                plan.later_repeat = pages_equal_but_serial(data, scan, plan.pages, plans[it->second].pages);
            later_streams.emplace(key, r);
        }
        if (plan.headers.count > 0) {
            const uint64_t key = pages_key(data, scan, plan.headers);
            auto [lo, hi] = later_headers.equal_range(key);
            for (auto it = lo; it != hi && !plan.later_copy; ++it)
                plan.later_copy = pages_equal_but_serial(data, scan, plan.headers, plans[it->second].headers);
            later_headers.emplace(key, r);
        }
    }
    return plans;
}

namespace {

// The items of every run, in file order, into the pass's writer (set up by the caller).
void write_runs(Pass& pass, std::vector<PackedRun>& runs, int32_t* peak_slots) {
    const PassSettings& settings = pass.settings;
    pass.release = settings.release;
    runs.assign(pass.scan.runs.size(), PackedRun{});
    for (size_t r = 0; r < pass.scan.runs.size(); ++r) {
        const ScanRun& run = pass.scan.runs[r];
        PackedRun& out = runs[r];
        out.begin = run.begin;
        out.end = run.end;
        out.vorbis = run.vorbis;
        out.serial = run.serial;
        if (settings.progress) settings.progress(settings.progress_context, run.begin, pass.size);
        pack_run(pass, r, out);
        if (run.vorbis) note_input_read(pass.release, run.end - run.begin); // raw bytes are told as written
        if (settings.run_done) settings.run_done(settings.run_done_context, pass.writer, out);
    }
    flush_raw(pass);
    if (settings.progress) settings.progress(settings.progress_context, pass.size, pass.size);
    if (peak_slots) *peak_slots = pass.driver->peak_slots;
}

void start_driver(Pass& pass) {
    pass.driver.reset(create_stream_driver(pass.settings.flags & kFlagsSlotSelectorMask,
                                           (pass.settings.flags & kFlagsCarryOver) != 0));
    if (!pass.driver) throw std::bad_alloc();
}

} // namespace

std::vector<uint8_t> pack_pass(const uint8_t* data, size_t size, const OggScan& scan,
                               const std::vector<RunPlan>& plans, const PassSettings& settings,
                               std::vector<PackedRun>& runs, int32_t* peak_slots) {
    Pass pass{data, size, scan, plans, settings, {}, {}};
    start_driver(pass);
    writer_init(pass.writer, settings.flags);
    pass.writer.items.reserve(size + size / 8 + 64); // the archive hardly ever outgrows its input
    write_runs(pass, runs, peak_slots);
    return writer_finish(pass.writer);
}

bool pack_pass_spooled(const uint8_t* data, size_t size, const OggScan& scan,
                       const std::vector<RunPlan>& plans, const PassSettings& settings, FILE* spool,
                       SpooledArchive& archive, std::vector<PackedRun>& runs, int32_t* peak_slots) {
    Pass pass{data, size, scan, plans, settings, {}, {}};
    start_driver(pass);
    writer_init_spooled(pass.writer, settings.flags, spool);
    write_runs(pass, runs, peak_slots);
    const bool written = writer_finish_spooled(pass.writer, archive.head);
    archive.items = pass.writer.spooled;
    archive.error = pass.writer.spool_error;
    return written;
}
