#include "pack/pack_pass.h"

#include "ogg/ogg_crc.h"
#include "ogg/ogg_page.h"

#include "archive/archive_writer.h"
#include "pack/stream_modeller.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
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

struct ModellerDeleter {
    void operator()(StreamModeller* modeller) const { destroy_stream_modeller(modeller); }
};

// Raw bytes wait here until an item that is not raw (or the end) comes, so that adjacent raw runs
// share items.
struct RawQueue {
    const uint8_t* data = nullptr;
    size_t begin = 0;
    size_t end = 0;
};

void flush_raw(ArchiveWriter& writer, RawQueue& queue, size_t max_item) {
    if (queue.end > queue.begin)
        writer_add_raw_bytes(writer, queue.data + queue.begin, queue.end - queue.begin, max_item);
    queue.begin = queue.end;
}

// The unpacker's records in one of its stores, as the runs whose pages they hold (oldest first).
using StoreRecords = std::vector<size_t>;

// The recency index of the newest record whose pages equal `range`, or -1.
int32_t find_record(const uint8_t* data, const OggScan& scan, const StoreRecords& records,
                    const std::vector<RunPlan>& plans, PageRange range, bool headers) {
    for (size_t i = records.size(); i-- > 0;) {
        const RunPlan& plan = plans[records[i]];
        if (pages_equal_but_serial(data, scan, headers ? plan.headers : plan.pages, range))
            return static_cast<int32_t>(records.size() - 1 - i);
    }
    return -1;
}

// A stream item can be left out after it was modelled only when the unpacker's state after it does
// not matter to later items: statistics start afresh for every stream, and no later item refers back
// to what the stream left in the stores.
bool can_drop_modelled_stream(uint8_t flags, const StreamOutcome& outcome, const StreamChoices& choices) {
    return !(flags & kFlagsCarryOver) && !outcome.remembered && !outcome.captured && choices.header_copy < 0;
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
// stream item that ends on a failing page start; the rest stays raw, for the reason `why`. False when
// nothing was modelled.
bool model_leading_part(const uint8_t* data, const OggScan& scan, const ScanRun& run, const RunPlan& plan,
                        ArchiveWriter& writer, RawQueue& raw, StreamModeller& modeller,
                        const PassSettings& settings, size_t limit, const std::string& why_rest,
                        PackedRun& out) {
    size_t keep = std::min(limit, run.page_count);
    while (keep > 0) {
        const ScannedPage& page = scan.pages[run.first_page + keep - 1];
        if (page.segment_count > 0 && data[page.offset + kOggHeaderSize + page.segment_count - 1] < 255)
            break;
        --keep;
    }
    if (plan.headers.count == 0 || keep <= plan.headers.first + plan.headers.count - run.first_page)
        return false;
    std::vector<OggPage> spans;
    for (size_t p = 0; p < keep; ++p) {
        const ScannedPage& page = scan.pages[run.first_page + p];
        spans.push_back(OggPage{data + page.offset, static_cast<uint32_t>(page.size)});
    }
    const ScannedPage& last = scan.pages[run.first_page + keep - 1];
    const Bytes failing = failing_page(last, data + last.offset);
    spans.push_back(OggPage{failing.data(), static_cast<uint32_t>(failing.size())});

    flush_raw(writer, raw, settings.max_raw_item);
    const size_t items_before = writer.items.size();
    StreamOutcome outcome;
    std::string why;
    if (!model_stream_item(modeller, writer, spans.data(), spans.size(), StreamChoices{}, outcome, why))
        return false;
    out.kind = ItemChoice::Stream;
    out.modelled_end = last.offset + last.size;
    out.out_bytes = writer.items.size() - items_before + (run.end - out.modelled_end);
    out.why = why_rest;
    raw.begin = out.modelled_end;
    raw.end = run.end;
    return true;
}

} // namespace

std::vector<RunPlan> plan_runs(const uint8_t* data, const OggScan& scan) {
    std::vector<RunPlan> plans(scan.runs.size());
    // Keys of the runs seen so far, walking backwards: a run is worth storing when one after it matches.
    std::unordered_multimap<uint64_t, size_t> later_streams, later_headers;
    for (size_t r = scan.runs.size(); r-- > 0;) {
        const ScanRun& run = scan.runs[r];
        if (!run.vorbis) continue;
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

std::vector<uint8_t> pack_pass(const uint8_t* data, size_t size, const OggScan& scan,
                               const std::vector<RunPlan>& plans, const PassSettings& settings,
                               std::vector<PackedRun>& runs) {
    std::unique_ptr<StreamModeller, ModellerDeleter> modeller(create_stream_modeller(settings.flags));
    if (!modeller) throw std::bad_alloc();
    ArchiveWriter writer;
    writer_init(writer, settings.flags);
    RawQueue raw{data, 0, 0};
    StoreRecords stream_records, header_records;
    std::vector<OggPage> spans;
    runs.assign(scan.runs.size(), PackedRun{});

    for (size_t r = 0; r < scan.runs.size(); ++r) {
        const ScanRun& run = scan.runs[r];
        const RunPlan& plan = plans[r];
        PackedRun& out = runs[r];
        out.begin = run.begin;
        out.end = run.end;
        out.vorbis = run.vorbis;
        out.serial = run.serial;
        if (settings.progress) settings.progress(settings.progress_context, run.begin, size);

        auto store_raw = [&](std::string why) {
            out.kind = ItemChoice::Raw;
            out.why = std::move(why);
            out.out_bytes = run.end - run.begin;
            raw.end = run.end;
        };
        if (!run.vorbis) {
            store_raw("");
            continue;
        }
        if (settings.larger && (*settings.larger)[r]) {
            store_raw("modelled form larger than the stream itself");
            continue;
        }
        if (settings.forced_raw && (*settings.forced_raw)[r]) {
            store_raw("did not restore exactly in verification");
            continue;
        }
        if (!stream_modelling_available()) {
            store_raw("this build cannot model Vorbis streams");
            continue;
        }
        if (!run.complete) {
            if (!model_leading_part(data, scan, run, plan, writer, raw, *modeller, settings, run.page_count,
                                    end_reason_text(run.end_reason), out))
                store_raw(end_reason_text(run.end_reason));
            continue;
        }

        flush_raw(writer, raw, settings.max_raw_item);
        const size_t items_before = writer.items.size();
        const int32_t repeat_index = find_record(data, scan, stream_records, plans, plan.pages, false);
        if (repeat_index >= 0 &&
            model_repeat_item(*modeller, writer, static_cast<uint32_t>(repeat_index), run.serial)) {
            out.kind = ItemChoice::Repeat;
            out.modelled_end = run.end;
            raw.begin = raw.end = run.end;
            continue;
        }

        spans.clear();
        for (size_t p = 0; p < run.page_count; ++p) {
            const ScannedPage& page = scan.pages[run.first_page + p];
            spans.push_back(OggPage{data + page.offset, static_cast<uint32_t>(page.size)});
        }
        StreamChoices choices;
        choices.remember = plan.later_repeat && repeat_items_available();
        choices.capture_headers = plan.later_copy;
        if (plan.headers.count > 0 && header_copies_available() &&
            !(settings.no_copy && (*settings.no_copy)[r])) {
            choices.header_copy = find_record(data, scan, header_records, plans, plan.headers, true);
            if (choices.header_copy >= 0)
                choices.header_copy_pages = static_cast<int32_t>(plan.headers.count);
        }
        StreamOutcome outcome;
        std::string why;
        const ArchiveWriterMark before = writer_mark(writer);
        bool modelled =
            model_stream_item(*modeller, writer, spans.data(), spans.size(), choices, outcome, why);
        if (!modelled && choices.header_copy >= 0) {
            // The copy may be what the model cannot express; coding the headers themselves may work.
            choices.header_copy = -1;
            choices.header_copy_pages = 0;
            modelled =
                model_stream_item(*modeller, writer, spans.data(), spans.size(), choices, outcome, why);
        }
        if (!modelled) {
            // Something part way through may be what the model cannot express: keep the longest leading
            // part that it can, trying shorter and shorter ones (a cut that still covers the culprit
            // fails where the whole stream failed, so the misses cost little).
            raw.begin = raw.end = run.begin;
            const std::string rest = "part way through: " + why;
            bool partly = false;
            for (size_t cut = 1; cut <= run.page_count / 2 && !partly; cut *= 2)
                partly = model_leading_part(data, scan, run, plan, writer, raw, *modeller, settings,
                                            run.page_count - cut, rest, out);
            if (!partly) store_raw(why);
            continue;
        }
        out.out_bytes = writer.items.size() - items_before;
        if (out.out_bytes >= run.end - run.begin &&
            can_drop_modelled_stream(settings.flags, outcome, choices)) {
            writer_rollback(writer, before);
            raw.begin = raw.end = run.begin;
            store_raw("modelled form larger than the stream itself");
            continue;
        }
        // Kept (later items depend on what it left behind), but the next pass stores it raw.
        out.larger_than_raw = out.out_bytes >= run.end - run.begin;
        out.kind = choices.header_copy >= 0 ? ItemChoice::HeaderCopy : ItemChoice::Stream;
        out.modelled_end = run.end;
        if (outcome.remembered) stream_records.push_back(r);
        if (outcome.captured) header_records.push_back(r);
        raw.begin = raw.end = run.end;
    }
    flush_raw(writer, raw, settings.max_raw_item);
    if (settings.progress) settings.progress(settings.progress_context, size, size);
    return writer_finish(writer);
}
