// Restoring, testing and listing one archive: the same unpack run into a file, into nothing, or into
// nothing while every item is written down. A bundle's run goes into its members instead.

#include "cli/bundle_members.h"
#include "cli/file_jobs.h"
#include "cli/file_system.h"
#include "cli/interrupt.h"
#include "cli/item_inspection.h"
#include "cli/text_format.h"
#include "unpack/unpacker.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>

namespace {

const char kStandardInputName[] = "(standard input)";

// talvo's line for a status, without its newline.
std::string status_text(UnpackStatus status) {
    std::string text = unpack_status_message(status);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

const char* kind_name(ItemKind kind) {
    switch (kind) {
    case ItemKind::Raw:
        return "raw";
    case ItemKind::Repeat:
        return "repeat";
    case ItemKind::Stream:
        return "stream";
    }
    return "";
}

const char* result_text(const ItemSummary& item, bool past_known_end = false) {
    switch (item.result) {
    case ItemResult::Done:
        return item.bad_page_crcs > 0 ? "Ogg pages with a wrong checksum" : "";
    case ItemResult::Incomplete:
        return "restored incompletely";
    case ItemResult::InputEnded:
        // The archive goes on after its items (its extension follows): a length ran into it.
        return past_known_end ? "its length runs past the archive's items (damaged)"
                              : "the archive ends inside it";
    case ItemResult::WriteFailed:
        return "the output refused it";
    case ItemResult::OutOfMemory:
        return "out of memory";
    case ItemResult::Corrupt:
        return "its coded data runs past its end";
    }
    return "";
}

std::string item_label(const ItemSummary& item) {
    std::string label = text_printf("item %" PRIu64 " (%s", item.number, kind_name(item.kind));
    if (item.has_serial) label += text_printf(", serial %08x", item.serial);
    return label + ")";
}

constexpr uint64_t kProgressStep = uint64_t{1} << 20; // restored bytes between two looks at the reader

// Where restored bytes go (nowhere for testing), why the system refused them, and how far the archive
// has been read: the progress line follows the reader's position in the archive, taken now and then as
// restored bytes go out, so that it moves within one large item too.
struct OutputFile {
    FILE* file = nullptr;
    int error = 0;
    FILE* archive = nullptr;
    BatchProgress* progress = nullptr;
    uint64_t reported = 0;             // archive bytes shown so far
    uint64_t unchecked = 0;            // restored bytes since the position was last taken
    MemberSplitter* members = nullptr; // a bundle's members take the bytes instead of `file`
};

void report_read_position(OutputFile& output) {
    output.unchecked = 0;
    if (!output.archive || output.archive == stdin || !output.progress->shown()) return;
    const long at = std::ftell(output.archive);
    if (at <= 0 || static_cast<uint64_t>(at) <= output.reported) return;
    output.progress->add_bytes(static_cast<uint64_t>(at) - output.reported);
    output.reported = static_cast<uint64_t>(at);
}

bool write_output(void* context, const uint8_t* bytes, size_t n) {
    if (interrupted()) return false;
    auto& output = *static_cast<OutputFile*>(context);
    output.unchecked += n;
    if (output.unchecked >= kProgressStep) report_read_position(output);
    if (output.members) return splitter_write(*output.members, bytes, n);
    if (!output.file || std::fwrite(bytes, 1, n, output.file) == n) return true;
    output.error = errno;
    return false;
}

void count_item_progress(void* context, const ItemSummary& /*item*/) {
    report_read_position(*static_cast<OutputFile*>(context));
}

// One archive through one unpack run.
struct ArchiveRun {
    const JobEnvironment& env;
    const PackJob& job;
    FileOutcome outcome;
    std::string name;
    FILE* input = nullptr;
    ArchiveSettings settings;
    ItemInspection inspection;
    ArchiveReport members;
    UnpackStatus status = UnpackStatus::Ok;

    ArchiveRun(const JobEnvironment& environment, const PackJob& archive_job)
        : env(environment), job(archive_job), name(display_name(archive_job.input)) {}
    ~ArchiveRun() {
        if (input && input != stdin) std::fclose(input);
    }

    void fail(const std::string& text) {
        outcome.errors += std::string(env.program) + ": " + name + ": " + text + "\n";
        outcome.exit_code = 1;
    }

    // Opens the archive and reads its header; false (with the message) when that fails.
    bool open() {
        if (job.input == kStandardStream) {
            input = stdin;
        } else if (is_directory(job.input)) {
            fail(errno_text(EISDIR));
            return false;
        } else {
            input = open_file(job.input, "rb");
            if (!input) {
                fail(errno_text(errno));
                return false;
            }
        }
        status = read_archive_header(ArchiveInput{input, nullptr, 0}, settings);
        if (status != UnpackStatus::Ok) {
            fail(status_text(status));
            return false;
        }
        return true;
    }

    void run(OutputFile& output) {
        output.archive = input;
        output.progress = &env.progress;
        inspection.walk_pages = true;
        inspection.downstream = OutputSink{&output, write_output};
        inspection.on_item_end = count_item_progress;
        inspection.on_item_end_context = &output;
        status = unpack_members(ArchiveInput{input, nullptr, 0}, settings, inspection_sink(inspection),
                                inspection_events(inspection), inspection_observer(inspection), members);
        if (input != stdin) std::fclose(input);
        input = nullptr;
        output.archive = nullptr;
        // The rest of a whole archive counts as done; after a failure only what was read.
        if (status == UnpackStatus::Ok && job.input != kStandardStream) {
            const uint64_t size = file_size_or_zero(job.input);
            if (size > output.reported) env.progress.add_bytes(size - output.reported);
        }
    }

    bool ran_past_known_end() const {
        return !members.members.empty() && members.members.back().ran_past_known_end;
    }

    // talvo's line for the status, and what it means here.
    std::string status_line() const {
        std::string line = status_text(status);
        switch (status) {
        case UnpackStatus::ChecksumMismatch:
            return line + " (the restored bytes do not match the archive's checksum)";
        case UnpackStatus::ChecksumDamaged:
            return line + " (the checksum after the end marker is damaged: the restored bytes could not be "
                          "checked)";
        case UnpackStatus::TrailingData:
            return line + text_printf(" (%" PRIu64 " bytes at offset %" PRIu64
                                      " are neither an archive nor its checksum)",
                                      members.trailing_bytes, members.trailing_offset);
        case UnpackStatus::Corrupt:
            if (ran_past_known_end())
                return line + " (an item's length runs past its items: damaged, not cut short)";
            return line;
        default:
            return line;
        }
    }

    // Whether any member carried no checksum (only its structure could be checked).
    bool lacks_checksum() const {
        for (const MemberReport& member : members.members)
            if (member.checksum == ChecksumState::Absent || member.checksum == ChecksumState::NotUnderstood)
                return true;
        return false;
    }

    // The run's messages: talvo's line for the status, then one line per item that failed. True when
    // there was nothing to say.
    bool report_failures() {
        if (interrupted()) {
            fail("interrupted");
            return false;
        }
        bool ok = status == UnpackStatus::Ok;
        if (!ok) fail(status_line());
        for (const ItemSummary& item : inspection.items) {
            if (!item_failed(item)) continue;
            if (ok) fail(item.bad_page_crcs > 0 ? "raw bytes are damaged" : "an item failed");
            ok = false;
            std::string line = "  " + item_label(item) + ": " + result_text(item, ran_past_known_end());
            if (item.result == ItemResult::Done)
                line += text_printf(" (%" PRIu64 " of %" PRIu64 ")", item.bad_page_crcs, item.pages);
            else if (item.events)
                line += " (the codecs met " + event_words(item.events) + ")";
            outcome.errors += line + "\n";
        }
        return ok;
    }
};

std::string settings_text(const ArchiveSettings& settings) {
    return text_printf("%d codebook slots, statistics %s", 16 << settings.slot_selector,
                       settings.carry_over ? "carried over" : "fresh per stream");
}

// How the item was stored, or why it failed.
std::string item_how(const ItemSummary& item, bool past_known_end) {
    if (item_failed(item)) return text_printf("FAILED: %s", result_text(item, past_known_end));
    if (item.kind == ItemKind::Stream) return item.headers_copied ? "headers copied" : "headers coded";
    if (item.kind == ItemKind::Repeat) return "stream repeated";
    if (item.pages > 0) return text_printf("%" PRIu64 " whole Ogg pages, checksums checked", item.pages);
    return "";
}

std::string listing_line(const ItemSummary& item, bool verbose, bool past_known_end) {
    const std::string how = item_how(item, past_known_end);
    const std::string serial = item.has_serial ? text_printf("%08x", item.serial) : "-";
    std::string line =
        text_printf("%6" PRIu64 "  %-7s %-9s %12u %12" PRIu64 "  %s\n", item.number, kind_name(item.kind),
                    serial.c_str(), item.archive_bytes, item.restored_bytes, how.c_str());
    if (verbose && item.kind != ItemKind::Raw) {
        const std::string books = item.codebooks >= 0 ? std::to_string(item.codebooks) : "-";
        line += text_printf("%26s codebooks %s, slots used %d, pages %" PRIu64 ", packets %" PRIu64 "\n", "",
                            books.c_str(), item.slots_used, item.pages, item.packets);
    }
    return line;
}

// What a member's checksum extension said.
std::string checksum_text(const MemberReport& member) {
    switch (member.checksum) {
    case ChecksumState::Matched:
        return text_printf("checksum XXH3-64 %016" PRIx64 " of %" PRIu64 " bytes: matches",
                           member.recorded.checksum, member.recorded.length);
    case ChecksumState::Mismatched:
        return text_printf("checksum XXH3-64 %016" PRIx64 " of %" PRIu64
                           " bytes: DOES NOT MATCH the restored %016" PRIx64 " of %" PRIu64 " bytes",
                           member.recorded.checksum, member.recorded.length, member.restored_checksum,
                           member.restored_bytes);
    case ChecksumState::Damaged:
        return "checksum DAMAGED: the bytes after the end marker do not hold together";
    case ChecksumState::NotUnderstood:
        return "no checksum this program can read (a later version's extension): only its structure was "
               "checked";
    case ChecksumState::Absent:
        return "no checksum (made without one): only its structure was checked";
    case ChecksumState::NotReached:
        return "checksum not reached: the archive failed before its end marker";
    }
    return "";
}

// The bundle in a file named on the command line: 1 (with its members), 0 none, -1 (with the message)
// a manifest that cannot be restored. From standard input no manifest is read: the members restore as
// their concatenation, as with any unpacker.
int bundle_of(ArchiveRun& run, std::vector<BundleMember>& members) {
    if (run.job.input == kStandardStream) return 0;
    uint64_t restored_length = 0;
    std::string error;
    const int found = read_bundle_manifest(run.job.input, members, restored_length, error);
    if (found == 0) return 0;
    if (found > 0) error = manifest_refusal(members, restored_length);
    if (error.empty()) return 1;
    run.fail("refused: " + error);
    return -1;
}

// After a bundle's run: the first member that failed, and why; true when every member was restored.
bool report_members(ArchiveRun& run, MemberSplitter& splitter) {
    if (run.status == UnpackStatus::Ok && !interrupted() && splitter_finish(splitter)) return true;
    const std::vector<BundleMember>& members = *splitter.members;
    if (!splitter.error.empty()) {
        run.fail(text_printf("member %zu of %zu, %s: %s", splitter.failed + 1, members.size(),
                             members[splitter.failed].path.c_str(), splitter.error.c_str()));
        run.report_failures();
        return false;
    }
    splitter_abandon(splitter);
    run.report_failures();
    if (splitter.next < members.size())
        run.outcome.errors +=
            text_printf("  member %zu of %zu, %s, was not restored (%zu before it were)\n", splitter.next + 1,
                        members.size(), members[splitter.next].path.c_str(), splitter.next);
    return false;
}

FileOutcome restore_bundle(ArchiveRun& run, const std::vector<BundleMember>& members) {
    const PackCommand& command = run.env.command;
    const std::string root = command.directory.empty() ? "." : command.directory;
    if (!is_directory(root)) {
        run.fail(root + ": not a directory");
        return run.outcome;
    }
    // Everything that can be known beforehand is refused before any member is written.
    for (const BundleMember& member : members) {
        const std::string refusal = member_target_refusal(root, member.path, command.force);
        if (!refusal.empty()) {
            run.fail(refusal);
            return run.outcome;
        }
    }
    if (!run.open()) return run.outcome;
    MemberSplitter splitter;
    std::string error;
    if (!splitter_start(splitter, members, root, true, command.force, error)) {
        run.fail(error);
        return run.outcome;
    }
    OutputFile output;
    output.members = &splitter;
    run.run(output);
    if (!report_members(run, splitter)) return run.outcome;
    if (command.remove_inputs && !remove_input(run.job.input, error)) {
        run.fail(error);
        return run.outcome;
    }
    if (command.verbose)
        run.outcome.errors +=
            text_printf("%s: %zu files, %" PRIu64 " bytes restored under %s\n", run.name.c_str(),
                        members.size(), run.inspection.restored_total, root.c_str());
    return run.outcome;
}

// A bundle's members in a listing: each one's bytes and its share of the archive's item bytes, taken
// from the items that restored its bytes (an item shared by two members is split by bytes).
std::string member_listing(const std::vector<BundleMember>& members, const std::vector<ItemSummary>& items) {
    std::string out = text_printf("%6s  %12s %12s %7s  %s\n", "member", "bytes", "archive", "share", "path");
    size_t item = 0;
    uint64_t item_start = 0, member_start = 0;
    for (size_t m = 0; m < members.size(); ++m) {
        const uint64_t member_end = member_start + members[m].length;
        double archive = 0;
        // Items are walked once: each one's restored range is [item_start, item_start + restored).
        while (item < items.size()) {
            const uint64_t item_end = item_start + items[item].restored_bytes;
            const uint64_t from = std::max(item_start, member_start), to = std::min(item_end, member_end);
            if (to > from && items[item].restored_bytes > 0)
                archive += static_cast<double>(items[item].archive_bytes) * static_cast<double>(to - from) /
                           static_cast<double>(items[item].restored_bytes);
            if (item_end > member_end) break;
            item_start = item_end;
            ++item;
        }
        const double share =
            members[m].length > 0 ? 100.0 * archive / static_cast<double>(members[m].length) : 0.0;
        out += text_printf("%6zu  %12" PRIu64 " %12.0f %6.1f%%  %s\n", m + 1, members[m].length, archive,
                           share, members[m].path.c_str());
        member_start = member_end;
    }
    return out;
}

} // namespace

std::string display_name(const std::string& name) {
    return name == kStandardStream ? kStandardInputName : name;
}

FileOutcome restore_job(const JobEnvironment& env, const PackJob& job) {
    ArchiveRun run(env, job);
    const PackCommand& command = env.command;
    // A bundle restores as its files, unless its output is named (-o, -c): then as their concatenation.
    if (command.output.empty() && !command.to_stdout && input_refusal(job.input, command.force).empty()) {
        std::vector<BundleMember> members;
        const int bundle = bundle_of(run, members);
        if (bundle < 0) return run.outcome;
        if (bundle > 0) return restore_bundle(run, members);
    }
    if (job.output.empty()) {
        run.fail("does not end in .talvo (name the output with -o, or use -c)");
        return run.outcome;
    }
    const bool to_stdout = job.output == kStandardStream;
    if (job.input != kStandardStream) {
        const std::string refusal = input_refusal(job.input, command.force || to_stdout);
        if (!refusal.empty()) {
            run.fail(refusal);
            return run.outcome;
        }
    }
    if (!to_stdout) {
        if (is_directory(job.output)) {
            run.fail(job.output + ": " + errno_text(EISDIR));
            return run.outcome;
        }
        if (!command.force && file_exists(job.output)) {
            run.fail(job.output + " exists (use -f to overwrite it)");
            return run.outcome;
        }
        if (job.input != kStandardStream && same_file(job.input, job.output)) {
            run.fail("the output would replace the archive");
            return run.outcome;
        }
    }
    if (!run.open()) return run.outcome;

    PendingOutput pending;
    std::string error;
    if (!to_stdout && !open_pending_output(job.output, pending, error)) {
        run.fail(error);
        return run.outcome;
    }
    OutputFile output{to_stdout ? stdout : pending.file};
    run.run(output);
    if (to_stdout && std::fflush(stdout) != 0 && run.status == UnpackStatus::Ok) {
        run.status = UnpackStatus::WriteFailed;
        output.error = errno;
    }
    if (run.status == UnpackStatus::WriteFailed && output.error != 0 && !interrupted()) {
        run.fail("cannot write " + (to_stdout ? std::string("to standard output") : job.output) + ": " +
                 errno_text(output.error));
        if (!to_stdout) discard_pending_output(pending);
        return run.outcome;
    }
    // All or nothing: an output that did not restore completely never appears under its name.
    if (!run.report_failures()) {
        if (!to_stdout) discard_pending_output(pending);
        return run.outcome;
    }
    if (!to_stdout) {
        const std::string metadata_from = job.input == kStandardStream ? "" : job.input;
        if (!commit_pending_output(pending, metadata_from, command.force, error, command.remove_inputs)) {
            run.fail(error);
            return run.outcome;
        }
        if (command.remove_inputs && job.input != kStandardStream && !remove_input(job.input, error)) {
            run.fail(error);
            return run.outcome;
        }
    }
    if (command.verbose)
        run.outcome.errors +=
            text_printf("%s: %" PRIu64 " bytes restored -> %s\n", run.name.c_str(),
                        run.inspection.restored_total, to_stdout ? "(standard output)" : job.output.c_str());
    return run.outcome;
}

FileOutcome test_job(const JobEnvironment& env, const PackJob& job) {
    ArchiveRun run(env, job);
    std::vector<BundleMember> members;
    const int bundle = bundle_of(run, members);
    if (bundle < 0) return run.outcome;
    if (!run.open()) return run.outcome;
    run.inspection.check_raw_pages = true;
    OutputFile nowhere;
    MemberSplitter splitter;
    std::string error;
    if (bundle > 0) {
        if (!splitter_start(splitter, members, "", false, false, error)) {
            run.fail(error);
            return run.outcome;
        }
        nowhere.members = &splitter;
    }
    run.run(nowhere);
    if (bundle > 0 ? !report_members(run, splitter) : !run.report_failures()) return run.outcome;
    if (bundle > 0 && env.command.verbose)
        run.outcome.errors +=
            text_printf("%s: %zu files, each matches its checksum\n", run.name.c_str(), members.size());
    if (run.lacks_checksum() && !env.command.quiet)
        run.outcome.errors += run.name + ": carries no checksum: only its structure was checked\n";
    if (env.command.verbose)
        run.outcome.errors +=
            text_printf("%s: OK, %zu archive(s), %" PRIu64 " items, %" PRIu64 " bytes%s\n", run.name.c_str(),
                        run.members.members.size(), run.inspection.item_count, run.inspection.restored_total,
                        run.lacks_checksum() ? "" : ", checksums match");
    return run.outcome;
}

FileOutcome list_job(const JobEnvironment& env, const PackJob& job) {
    ArchiveRun run(env, job);
    std::vector<BundleMember> files;
    const int bundle = bundle_of(run, files);
    if (bundle < 0) return run.outcome;
    if (!run.open()) return run.outcome;
    run.inspection.check_raw_pages = true;
    run.inspection.keep_every_item = true;
    OutputFile nowhere;
    run.run(nowhere);
    run.report_failures();

    std::string& out = run.outcome.report;
    const std::vector<MemberReport>& members = run.members.members;
    const bool several = members.size() > 1;
    size_t next_item = 0;
    for (size_t m = 0; m < members.size(); ++m) {
        const MemberReport& member = members[m];
        const ArchiveSettings& settings = m == 0 ? run.settings : member.settings;
        out += run.name + ": ";
        if (several) out += text_printf("archive %zu at byte %" PRIu64 ", ", m + 1, member.offset);
        out += settings_text(settings) + "\n";
        out += text_printf("%6s  %-7s %-9s %12s %12s  %s\n", "item", "kind", "serial", "archive", "restored",
                           "how");
        const size_t end = std::min<size_t>(run.inspection.items.size(), next_item + member.items);
        for (; next_item < end; ++next_item)
            out +=
                listing_line(run.inspection.items[next_item], env.command.verbose, member.ran_past_known_end);
        out += text_printf("%6s  %s\n", "", checksum_text(member).c_str());
    }
    const ItemInspection& all = run.inspection;
    out += text_printf("%6s  %-17s %12" PRIu64 " %12" PRIu64, "total",
                       text_printf("%" PRIu64 " items", all.item_count).c_str(), all.archive_item_bytes,
                       all.restored_total);
    const uint64_t archive_size = job.input == kStandardStream ? 0 : file_size_or_zero(job.input);
    // The share only for an archive that restored whole: one that stopped part way restored less than
    // it holds, and its share would mean nothing.
    if (archive_size > 0 && all.restored_total > 0 && run.status == UnpackStatus::Ok)
        out +=
            text_printf("  (archive %" PRIu64 " bytes, %.1f%%)", archive_size,
                        100.0 * static_cast<double>(archive_size) / static_cast<double>(all.restored_total));
    out += "\n";
    if (run.members.trailing_bytes > 0)
        out += text_printf("  %" PRIu64 " bytes at offset %" PRIu64
                           " after the last archive are neither an archive nor its checksum (not restored)\n",
                           run.members.trailing_bytes, run.members.trailing_offset);
    else if (run.status != UnpackStatus::Ok && run.status != UnpackStatus::ChecksumMismatch &&
             run.status != UnpackStatus::ChecksumDamaged)
        out += "  (listing ends where the archive could not be read further)\n";
    if (bundle > 0) out += member_listing(files, all.items);
    run.outcome.listed_items = all.item_count;
    run.outcome.listed_item_bytes = all.archive_item_bytes;
    run.outcome.listed_restored_bytes = all.restored_total;
    run.outcome.listed_archive_size = archive_size;
    return run.outcome;
}
