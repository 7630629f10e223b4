#include "pack/packer.h"

#include "archive/archive_extension.h"
#include "archive/archive_format.h"
#include "archive/archive_writer.h"
#include "pack/ogg_scan.h"
#include "pack/pack_pass.h"
#include "pack/verify_pipe.h"
#include "unpack/unpacker.h"
#include "workers/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>

namespace {

uint8_t flags_of(int slot_selector, bool carry_over) {
    return static_cast<uint8_t>(slot_selector | (carry_over ? kFlagsCarryOver : 0));
}

// The settings worth trying. The slot count and the carry-over change nothing when no stream is
// modelled, and the carry-over nothing for a single stream.
std::vector<uint8_t> candidate_flags(const PackOptions& options, size_t vorbis_runs) {
    if (!options.choose_settings) return {options.flags};
    if (vorbis_runs == 0) return {flags_of(std::max(options.slot_selector, 0), options.carry_over > 0)};
    std::vector<int> selectors = {0, 1, 2, 3};
    if (options.slot_selector >= 0) selectors = {options.slot_selector};
    std::vector<bool> carries = {false, true};
    if (options.carry_over >= 0)
        carries = {options.carry_over > 0};
    else if (vorbis_runs < 2)
        carries = {false};
    std::vector<uint8_t> flags;
    for (bool carry : carries)
        for (int s : selectors)
            flags.push_back(flags_of(s, carry));
    return flags;
}

// One settings trial of the search.
struct Trial {
    bool packed = false;
    bool out_of_memory = false;
    std::vector<uint8_t> archive;
    std::vector<PackedRun> runs;
    std::vector<bool> larger; // runs stored raw because their modelled form was larger
    int32_t peak_slots = 0;
};

struct SettingsSearch {
    const std::vector<uint8_t>& candidates;
    std::vector<Trial>& trials;
    std::vector<std::atomic<uint8_t>>& finished; // trials[c] is complete (or was not needed)
};

enum class Needed : uint8_t { Yes, No, Unknown };

int32_t slot_capacity(uint8_t flags) {
    return int32_t{1} << ((flags & kFlagsSlotSelectorMask) + 4);
}

bool anything_modelled(const std::vector<PackedRun>& runs) {
    return std::any_of(runs.begin(), runs.end(),
                       [](const PackedRun& r) { return r.kind != ItemChoice::Raw; });
}

// The search in candidate order, over the trials finished so far: slot counts are tried upwards per
// carry-over setting and no further once more slots stop helping, which they cannot when the last
// trial never filled its table (a larger table then codes the very same decisions, so its archive has
// the same size); nothing modelled ends the search. Returns whether trial `target` counts (Unknown
// while an earlier trial it depends on is still running), and sets `best` to the smallest archive of
// the trials before it that count.
Needed replay_search(const SettingsSearch& search, size_t target, size_t& best) {
    const std::vector<uint8_t>& candidates = search.candidates;
    best = candidates.size();
    size_t previous_size = 0;
    for (size_t c = 0; c < target; ++c) {
        const bool same_carry =
            c > 0 && (candidates[c] & kFlagsCarryOver) == (candidates[c - 1] & kFlagsCarryOver);
        if (same_carry && previous_size == 0) continue; // more slots stopped helping
        if (!search.finished[c].load(std::memory_order_acquire)) return Needed::Unknown;
        const Trial& trial = search.trials[c];
        if (!trial.packed || trial.out_of_memory) return Needed::Unknown;
        const size_t size = trial.archive.size();
        previous_size = same_carry && size >= previous_size ? 0 : size;
        if (trial.peak_slots < slot_capacity(candidates[c])) previous_size = 0;
        if (best == candidates.size() || size < search.trials[best].archive.size()) best = c;
        // Nothing modelled: no other setting can change the archive.
        if (!anything_modelled(search.trials[best].runs)) return Needed::No;
    }
    if (target >= candidates.size()) return Needed::No;
    const bool same_carry =
        target > 0 && (candidates[target] & kFlagsCarryOver) == (candidates[target - 1] & kFlagsCarryOver);
    return same_carry && previous_size == 0 ? Needed::No : Needed::Yes;
}

// Whether trial c, of the carry-over group that begins at `first`, is worth running after the group's
// trials before it (all finished): the search's rule within one group.
bool group_goes_on(const SettingsSearch& search, size_t first, size_t c) {
    size_t previous_size = 0;
    for (size_t k = first; k < c; ++k) {
        const bool same_carry = k > first;
        if (same_carry && previous_size == 0) continue;
        const Trial& trial = search.trials[k];
        if (trial.out_of_memory) return false;
        const size_t size = trial.archive.size();
        previous_size = same_carry && size >= previous_size ? 0 : size;
        if (trial.peak_slots < slot_capacity(search.candidates[k])) previous_size = 0;
    }
    return c == first || previous_size != 0;
}

// Trial c is run unless the search cannot use it: its own group has stopped, or (as far as the other
// group's finished trials tell) the search has ended before it.
bool trial_wanted(const SettingsSearch& search, size_t first, size_t c) {
    size_t best = 0;
    return group_goes_on(search, first, c) && replay_search(search, c, best) != Needed::No;
}

// After every trial has finished: the winner (candidates.size() when a trial that counts ran out of
// memory).
size_t winning_trial(const SettingsSearch& search) {
    size_t best = 0;
    if (replay_search(search, search.candidates.size(), best) == Needed::Unknown)
        return search.candidates.size();
    return best;
}

// The run that holds byte `offset` (the last run when the offset lies at or past the end).
size_t run_at(const std::vector<PackedRun>& runs, size_t offset) {
    for (size_t r = 0; r < runs.size(); ++r)
        if (offset < runs[r].end) return r;
    return runs.empty() ? 0 : runs.size() - 1;
}

} // namespace

namespace {

// How much of one file is packed, as its caller hears it: every settings trial counts as one pass over
// the file and the verification as one more, and a trial that the search leaves out stops counting; the
// passes' mean is told only as it grows, and stays short of the size until the file is packed. Leaving
// out a pass that never ran only raises the mean. Trials run on several workers at once, so the caller
// is told under a lock.
struct FileProgress {
    void (*tell)(void* context, size_t done, size_t total) = nullptr;
    void* context = nullptr;
    size_t size = 0;
    std::vector<size_t> pass_done; // bytes done in each pass: the trials, then the verification
    size_t passes = 0;             // the passes that count
    size_t told = 0;
    std::mutex mutex;
};

// One pass's share of the progress, as a pass's own progress callback sees it.
struct PassProgress {
    FileProgress* file;
    size_t pass;
};

// With the lock held.
void tell_if_grown(FileProgress& progress) {
    uint64_t sum = 0;
    for (size_t d : progress.pass_done)
        sum += d;
    const uint64_t mean = sum / std::max<size_t>(progress.passes, 1);
    const size_t before_end = static_cast<size_t>(std::min<uint64_t>(mean, progress.size - 1));
    if (before_end <= progress.told) return;
    progress.told = before_end;
    progress.tell(progress.context, before_end, progress.size);
}

void advance_progress(FileProgress& progress, size_t pass, size_t done) {
    if (!progress.tell || progress.size == 0) return;
    std::lock_guard<std::mutex> lock(progress.mutex);
    size_t& pass_done = progress.pass_done[pass];
    if (done <= pass_done) return;
    pass_done = std::min(done, progress.size);
    tell_if_grown(progress);
}

// A trial the search leaves out, before it ran.
void leave_out_pass(FileProgress& progress) {
    if (!progress.tell || progress.size == 0) return;
    std::lock_guard<std::mutex> lock(progress.mutex);
    --progress.passes;
    tell_if_grown(progress);
}

void tell_pass_progress(void* context, size_t done, size_t /*total*/) {
    const auto& pass = *static_cast<PassProgress*>(context);
    advance_progress(*pass.file, pass.pass, done);
}

void finish_progress(FileProgress& progress) {
    std::lock_guard<std::mutex> lock(progress.mutex);
    if (progress.tell) progress.tell(progress.context, progress.size, progress.size);
}

// The verification's output: restored bytes are compared with the original as they come, so nothing
// is kept, and the restore stops at the first byte that differs.
struct ComparingSink {
    const uint8_t* original;
    size_t size;
    const PassProgress* progress = nullptr;
    InputRelease release;
    size_t restored = 0;
    size_t difference = kNoDifference;

    static bool write(void* context, const uint8_t* bytes, size_t n) {
        auto& sink = *static_cast<ComparingSink*>(context);
        const size_t common = std::min(n, sink.size - sink.restored);
        const uint8_t* expected = sink.original + sink.restored;
        const size_t same = static_cast<size_t>(std::mismatch(bytes, bytes + common, expected).first - bytes);
        sink.restored += same;
        if (same < n) {
            sink.difference = sink.restored; // a differing byte, or one past the original's end
            return false;
        }
        if (sink.progress) advance_progress(*sink.progress->file, sink.progress->pass, sink.restored);
        note_input_read(sink.release, n);
        return true;
    }
};

size_t find_first_difference(const ArchiveInput& input, const uint8_t* data, size_t size,
                             const PassProgress* progress, InputRelease release = {}) {
    ComparingSink compare{data, size, progress, release};
    ArchiveSettings settings;
    UnpackStatus status = read_archive_header(input, settings);
    // Read as talvo-pack reads it: the extension must be found and agree, and nothing may follow.
    ArchiveReport report;
    if (status == UnpackStatus::Ok)
        status = unpack_members(input, settings, OutputSink{&compare, ComparingSink::write}, {}, {}, report);
    if (compare.difference != kNoDifference) return compare.difference;
    // Everything restored matches: an archive that ends early, or fails, differs where it stopped.
    if (compare.restored != size || status != UnpackStatus::Ok || report.members.size() != 1)
        return compare.restored;
    return kNoDifference;
}

// A spooled archive's files, and the bytes of the archive assembled in `files->archive` last.
struct SpoolTarget {
    const ArchiveSpool* files = nullptr;
    uint64_t written = 0;
};

// The progress of a file packed in `passes` passes (trials and verification), told to the caller of
// `options`.
void start_progress(FileProgress& progress, const PackOptions& options, size_t size, size_t passes) {
    progress.tell = options.progress;
    progress.context = options.progress_context;
    progress.size = size;
    progress.pass_done.assign(passes, 0);
    progress.passes = passes;
}

// The settings every pass over a file takes from `options` (the flags byte is the pass's own).
PassSettings settings_of(const PackOptions& options) {
    PassSettings settings;
    settings.max_raw_item = options.max_raw_item;
    settings.store_limit = options.store_limit;
    settings.release = options.release_input;
    return settings;
}

// What the passes over one file share: the file, its scan and plan, and the settings common to all;
// and where the archive goes: into PackResult::archive, or, with a spool, into its archive file.
struct FilePasses {
    const uint8_t* data;
    size_t size;
    const OggScan& scan;
    const std::vector<RunPlan>& plans;
    const PackOptions& options;
    FileProgress& progress;
    SpoolTarget* spool = nullptr;
};

// The checksum of the `size` bytes at `data`, read a stretch at a time with the input's release told.
uint64_t input_checksum(const uint8_t* data, size_t size, InputRelease release) {
    if (!release.release) return content_checksum(data, size);
    ContentHasher* hasher = hasher_create();
    if (!hasher) throw std::bad_alloc();
    for (size_t at = 0; at < size; at += kInputReleaseInterval) {
        const size_t n = std::min(kInputReleaseInterval, size - at);
        hasher_update(hasher, data + at, n);
        note_input_read(release, n);
    }
    const uint64_t checksum = hasher_digest(hasher);
    hasher_destroy(hasher);
    return checksum;
}

std::vector<uint8_t> extension_of(uint64_t archive_size, const uint8_t* data, size_t size,
                                  const std::vector<ExtensionRecord>& more, InputRelease release = {}) {
    const ContentDigest digest{size, input_checksum(data, size, release)};
    std::vector<ExtensionRecord> records{content_record(digest)};
    records.insert(records.end(), more.begin(), more.end());
    return make_extension(archive_size, records);
}

bool spool_failed(PackResult& result, int error) {
    result.status = PackStatus::WriteFailed;
    result.write_error = error != 0 ? error : EIO;
    return false;
}

// The spooled archive written whole into the spool's archive file: its head, its items copied from the
// items file, and its extension when one is asked for; the file is cut to that length.
// result.archive_size becomes the archive's size without the extension.
bool assemble_spooled(const FilePasses& file, const SpooledArchive& spooled, PackResult& result) {
    constexpr size_t kCopyChunk = size_t{1} << 20;
    SpoolTarget& spool = *file.spool;
    FILE* archive = spool.files->archive;
    FILE* items = spool.files->items;
    errno = 0;
    if (!seek_file(archive, 0) || !seek_file(items, 0) ||
        std::fwrite(spooled.head.data(), 1, spooled.head.size(), archive) != spooled.head.size())
        return spool_failed(result, errno);
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(spooled.items, kCopyChunk)));
    for (uint64_t left = spooled.items; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
        if (std::fread(buffer.data(), 1, n, items) != n || std::fwrite(buffer.data(), 1, n, archive) != n)
            return spool_failed(result, errno);
        left -= n;
    }
    result.archive_size = spooled.head.size() + spooled.items;
    spool.written = result.archive_size;
    if (file.options.checksum) {
        const std::vector<uint8_t> extension =
            extension_of(result.archive_size, file.data, file.size, file.options.extension_records,
                         file.options.release_input);
        if (std::fwrite(extension.data(), 1, extension.size(), archive) != extension.size())
            return spool_failed(result, errno);
        spool.written += extension.size();
    }
    if (std::fflush(archive) != 0 || !truncate_file(archive, spool.written))
        return spool_failed(result, errno);
    return true;
}

// One pass over the file with `settings`, its archive where the file's archives go.
bool archive_pass(const FilePasses& file, const PassSettings& settings, PackResult& result,
                  int32_t* peak_slots = nullptr) {
    if (!file.spool) {
        result.archive =
            pack_pass(file.data, file.size, file.scan, file.plans, settings, result.runs, peak_slots);
        result.archive_size = result.archive.size();
        return true;
    }
    SpooledArchive spooled;
    if (!pack_pass_spooled(file.data, file.size, file.scan, file.plans, settings, file.spool->files->items,
                           spooled, result.runs, peak_slots))
        return spool_failed(result, spooled.error);
    return assemble_spooled(file, spooled, result);
}

// Where the latest archive's output first differs from the file (`at`), read as it will be written:
// with its extension. False (with the status set) when a spooled archive cannot be read back.
bool archive_difference(const FilePasses& file, PackResult& result, const PassProgress* progress,
                        size_t& at) {
    if (!file.spool) {
        const size_t bare_size = result.archive.size();
        if (file.options.checksum)
            append_extension(result.archive, file.data, file.size, file.options.extension_records);
        at = find_first_difference(ArchiveInput{nullptr, result.archive.data(), result.archive.size()},
                                   file.data, file.size, progress);
        result.archive.resize(bare_size);
        return true;
    }
    FILE* archive = file.spool->files->archive;
    errno = 0;
    if (!seek_file(archive, 0)) return spool_failed(result, errno);
    // Read on this thread, as the in-memory archive is: the packer's workers stay the only threads.
    at = find_first_difference(ArchiveInput{archive, nullptr, 0, true}, file.data, file.size, progress,
                               file.options.release_input);
    if (std::ferror(archive)) return spool_failed(result, errno);
    return true;
}

// After each run of a pass verified beside it: what the run made goes to the verification. A stream
// larger than stored raw sends the file through another pass, so this archive will not be kept.
void publish_run(void* context, ArchiveWriter& writer, const PackedRun& run) {
    auto& pipe = *static_cast<VerifyPipe*>(context);
    if (run.larger_than_raw) pipe_abandon(pipe);
    pipe_publish(pipe, writer); // a failed write is the pass's to report, at its end
}

// One spooled pass, as archive_pass makes it, with the verification on a second worker reading the
// archive as the pass writes it (on one worker, or with no second worker free, the verification follows
// the pass). Sets `verified` when that verification proved the archive the pass wrote; otherwise (a
// difference, or another pass to come) it is left to verify_until_exact, which reads the archive back
// from its file, so the archive kept is the same either way. Throws std::bad_alloc when memory runs out.
bool pass_verified_beside(const FilePasses& file, PassSettings pass, PackResult& result, bool& verified) {
    VerifyPipe pipe;
    pipe_open(pipe, file.spool->files->items_readback);
    ArchivePipe source = pipe_source(pipe);
    pass.run_done = publish_run;
    pass.run_done_context = &pipe;
    uint8_t header[kArchiveHeaderSize];
    std::memcpy(header, kArchiveMagic, sizeof kArchiveMagic);
    header[sizeof kArchiveMagic] = pass.flags;
    const PassProgress verify_progress{&file.progress, file.progress.pass_done.size() - 1};
    SpooledArchive spooled;
    bool packed = false, assembled = false, out_of_memory = false;
    size_t at = 0;
    run_tasks(2, [&](size_t task, int /*worker*/) {
        if (task == 1) {
            at = find_first_difference(ArchiveInput{nullptr, header, sizeof header, false, &source},
                                       file.data, file.size, &verify_progress, file.options.release_input);
            return;
        }
        try {
            packed = pack_pass_spooled(file.data, file.size, file.scan, file.plans, pass,
                                       file.spool->files->items, spooled, result.runs);
            // A run larger than stored raw has abandoned the pipe already (publish_run): nothing is
            // finished for an archive that will not be kept.
            if (!packed) {
                pipe_abandon(pipe);
                return;
            }
            if (!pipe_abandoned(pipe)) {
                std::vector<uint8_t> extension;
                if (file.options.checksum)
                    extension = extension_of(spooled.head.size() + spooled.items, file.data, file.size,
                                             file.options.extension_records, file.options.release_input);
                pipe_finish(pipe, spooled.head, spooled.items, std::move(extension));
            }
            // The archive's file is written while the verification reads on.
            assembled = assemble_spooled(file, spooled, result);
        } catch (const std::bad_alloc&) {
            pipe_abandon(pipe);
            out_of_memory = true;
        }
    });
    if (out_of_memory) throw std::bad_alloc();
    if (!packed) return spool_failed(result, spooled.error);
    verified = at == kNoDifference && pipe_read_as_archive(pipe, source);
    return assembled;
}

// An archive never costs more than storing its input raw. A stream modelled only in part, for one,
// pays for its modelled pages and for the raw rest, which can come to more than the input itself; then
// the archive of raw items alone replaces it. Its flags byte asks the unpacker for the smallest slot
// table unless the settings were forced.
// False (with the status set) when a spooled archive of raw items cannot be written, or does not
// restore: then the archive that it replaced is gone from the spool's file.
bool keep_all_raw_when_smaller(const FilePasses& file, PackResult& result) {
    const uint8_t* data = file.data;
    const size_t size = file.size;
    const PackOptions& options = file.options;
    if (raw_archive_size(size, options.max_raw_item) >= result.archive_size) return true;
    ArchiveWriter writer;
    const uint8_t flags = options.choose_settings ? 0 : options.flags;
    if (!file.spool) {
        writer_init(writer, flags);
        writer_add_raw_bytes(writer, data, size, options.max_raw_item);
        std::vector<uint8_t> raw = writer_finish(writer);
        if (raw.size() >= result.archive.size()) return true;
        if (options.verify && !verify_archive(raw, data, size)) return true;
        result.archive = std::move(raw);
        result.archive_size = result.archive.size();
    } else {
        writer_init_spooled(writer, flags, file.spool->files->items);
        // In whole items at a time, as one call would cut them, with the input's release told in between.
        InputRelease release = options.release_input;
        const size_t item = std::clamp<size_t>(options.max_raw_item, 1, kMaxLengthCode);
        const size_t chunk = item * std::max<size_t>(1, kInputReleaseInterval / item);
        for (size_t at = 0; at < size; at += chunk) {
            writer_add_raw_bytes(writer, data + at, std::min(chunk, size - at), options.max_raw_item);
            note_input_read(release, std::min(chunk, size - at));
        }
        SpooledArchive raw;
        if (!writer_finish_spooled(writer, raw.head)) return spool_failed(result, writer.spool_error);
        raw.items = writer.spooled;
        if (!assemble_spooled(file, raw, result)) return false;
        size_t at = 0;
        if (options.verify && !archive_difference(file, result, nullptr, at)) return false;
        if (options.verify && at != kNoDifference) {
            result.status = PackStatus::VerifyFailed;
            return false;
        }
    }
    result.flags = flags;
    for (PackedRun& run : result.runs) {
        if (run.kind != ItemChoice::Raw) {
            run.kind = ItemChoice::Raw;
            run.why = "the whole file is smaller stored raw";
        }
        run.modelled_end = run.begin;
        run.larger_than_raw = false;
        run.out_bytes = run.end - run.begin;
    }
    return true;
}

// Packs the file once per candidate setting and keeps the smallest archive in `result` (its archive,
// runs and flags); returns which runs it stored raw for being larger modelled. The trials run on the
// workers; which ones count, and which one wins, is decided afterwards in candidate order, so the
// archive is the same for any number of workers. Throws std::bad_alloc when memory runs out.
std::vector<bool> choose_settings(const FilePasses& file, const std::vector<uint8_t>& candidates,
                                  const PassSettings& settings, PackResult& result) {
    const uint8_t* data = file.data;
    const size_t size = file.size;
    std::vector<Trial> trials(candidates.size());
    std::vector<std::atomic<uint8_t>> finished(candidates.size());
    std::vector<PassProgress> trial_progress(candidates.size());
    SettingsSearch search{candidates, trials, finished};
    auto run_trial = [&](size_t c) {
        Trial& trial = trials[c];
        PassSettings own = settings;
        own.flags = candidates[c];
        trial_progress[c] = PassProgress{&file.progress, c};
        own.progress = file.progress.tell ? tell_pass_progress : nullptr;
        own.progress_context = &trial_progress[c];
        own.larger = &trial.larger;
        try {
            trial.larger.assign(file.scan.runs.size(), false);
            trial.archive = pack_pass(data, size, file.scan, file.plans, own, trial.runs, &trial.peak_slots);
            // Streams whose modelled form came out larger than they are go raw, in a pass of their
            // own (what follows them was coded against the state they left behind).
            bool any_larger = false;
            for (size_t r = 0; r < trial.runs.size(); ++r)
                if (trial.runs[r].larger_than_raw) trial.larger[r] = any_larger = true;
            if (any_larger) {
                int32_t peak = 0;
                trial.archive = pack_pass(data, size, file.scan, file.plans, own, trial.runs, &peak);
                trial.peak_slots = std::max(trial.peak_slots, peak);
            }
        } catch (const std::bad_alloc&) {
            trial.out_of_memory = true;
        }
        trial.packed = true;
    };
    // One task per carry-over setting (they are independent); within one, the slot counts go
    // upwards, each trial only when the ones before it leave more slots worth trying.
    std::vector<size_t> group_starts;
    for (size_t c = 0; c < candidates.size(); ++c)
        if (c == 0 || (candidates[c] & kFlagsCarryOver) != (candidates[c - 1] & kFlagsCarryOver))
            group_starts.push_back(c);
    run_tasks(group_starts.size(), [&](size_t g, int /*worker*/) {
        const size_t first = group_starts[g];
        const size_t end = g + 1 < group_starts.size() ? group_starts[g + 1] : candidates.size();
        for (size_t c = first; c < end; ++c) {
            const bool wanted = trial_wanted(search, first, c);
            if (wanted) run_trial(c);
            finished[c].store(1, std::memory_order_release);
            if (wanted)
                advance_progress(file.progress, c, size);
            else
                leave_out_pass(file.progress);
        }
    });
    const size_t best = winning_trial(search);
    if (best >= trials.size() || trials[best].out_of_memory) throw std::bad_alloc();
    result.archive = std::move(trials[best].archive);
    result.runs = std::move(trials[best].runs);
    result.flags = candidates[best];
    return std::move(trials[best].larger);
}

// Proves the archive in `result` as it will be written: a stream that does not come back exactly is
// stored raw, in a pass of its own, until everything does. False (with the status set) when even the
// bytes stored verbatim do not come back. Throws std::bad_alloc when memory runs out.
bool verify_until_exact(const FilePasses& file, PassSettings settings, std::vector<bool> larger,
                        PackResult& result) {
    std::vector<bool> forced_raw(file.scan.runs.size(), false), no_copy(file.scan.runs.size(), false);
    settings.flags = result.flags;
    settings.forced_raw = &forced_raw;
    settings.no_copy = &no_copy;
    settings.larger = &larger;
    settings.progress = nullptr;
    const PassProgress progress{&file.progress, file.progress.pass_done.size() - 1};
    for (;;) {
        // The archive is proved with its extension, which the unpacker must find after the end marker
        // and agree with.
        size_t at = 0;
        if (!archive_difference(file, result, &progress, at)) return false;
        if (at == kNoDifference) return true;
        const size_t r = run_at(result.runs, at);
        size_t culprit = r;
        // A stream that ends early shows as a difference at the start of the run after it.
        if (result.runs[r].kind == ItemChoice::Raw && r > 0 && result.runs[r - 1].kind != ItemChoice::Raw)
            culprit = r - 1;
        if (result.runs[culprit].kind == ItemChoice::Raw) {
            // Not a modelled stream's fault: fall back to storing every byte verbatim.
            bool any = false;
            for (size_t k = 0; k < result.runs.size(); ++k)
                if (result.runs[k].kind != ItemChoice::Raw && !forced_raw[k]) forced_raw[k] = any = true;
            if (!any) {
                result.status = PackStatus::VerifyFailed;
                return false;
            }
        } else if (result.runs[culprit].kind == ItemChoice::HeaderCopy) {
            no_copy[culprit] = true; // the stream may still come back with its headers coded
        } else {
            forced_raw[culprit] = true;
        }
        ++result.verify_fallbacks;
        if (!archive_pass(file, settings, result)) return false;
    }
}

} // namespace

size_t first_difference(const std::vector<uint8_t>& archive, const uint8_t* data, size_t size) {
    return find_first_difference(ArchiveInput{nullptr, archive.data(), archive.size()}, data, size, nullptr);
}

void append_extension(std::vector<uint8_t>& archive, const uint8_t* data, size_t size,
                      const std::vector<ExtensionRecord>& more) {
    const std::vector<uint8_t> extension = extension_of(archive.size(), data, size, more);
    archive.insert(archive.end(), extension.begin(), extension.end());
}

bool verify_archive(const std::vector<uint8_t>& archive, const uint8_t* data, size_t size) {
    return first_difference(archive, data, size) == kNoDifference;
}

PackResult pack_file(const uint8_t* data, size_t size, const PackOptions& options) {
    PackResult result;
    try {
        const OggScan scan = scan_ogg(data, size, options.release_input);
        const std::vector<RunPlan> plans = plan_runs(data, scan, options.release_input);
        const size_t vorbis_runs = static_cast<size_t>(
            std::count_if(scan.runs.begin(), scan.runs.end(), [](const ScanRun& r) { return r.vorbis; }));
        PassSettings settings = settings_of(options);
        const std::vector<uint8_t> candidates = candidate_flags(options, vorbis_runs);
        FileProgress progress;
        start_progress(progress, options, size, candidates.size() + (options.verify ? 1 : 0));
        const FilePasses file{data, size, scan, plans, options, progress};

        std::vector<bool> larger = choose_settings(file, candidates, settings, result);
        result.archive_size = result.archive.size();
        if (options.verify && !verify_until_exact(file, settings, std::move(larger), result)) return result;
        // An archive of raw items alone leaves no sub-stream bytes untaken before its end marker: its
        // extension is found where the writer put it.
        keep_all_raw_when_smaller(file, result);
        if (options.checksum) append_extension(result.archive, data, size, options.extension_records);
        result.archive_size = result.archive.size();
        finish_progress(progress);
        return result;
    } catch (const std::bad_alloc&) {
        result.archive.clear();
        result.status = PackStatus::OutOfMemory;
        return result;
    }
}

PackResult pack_file_spooled(const uint8_t* data, size_t size, const PackOptions& options,
                             const ArchiveSpool& spool) {
    if (options.choose_settings) {
        // The trials of the search are held in memory; only the winner is written.
        PackResult result = pack_file(data, size, options);
        if (result.status != PackStatus::Ok) return result;
        errno = 0;
        if (!seek_file(spool.archive, 0) ||
            std::fwrite(result.archive.data(), 1, result.archive.size(), spool.archive) !=
                result.archive.size() ||
            std::fflush(spool.archive) != 0 || !truncate_file(spool.archive, result.archive.size()))
            spool_failed(result, errno);
        result.archive.clear();
        return result;
    }
    PackResult result;
    try {
        const OggScan scan = scan_ogg(data, size, options.release_input);
        const std::vector<RunPlan> plans = plan_runs(data, scan, options.release_input);
        PassSettings settings = settings_of(options);
        settings.flags = options.flags;
        FileProgress progress;
        start_progress(progress, options, size, options.verify ? 2 : 1);
        SpoolTarget target{&spool};
        const FilePasses file{data, size, scan, plans, options, progress, &target};

        // One pass; streams whose modelled form came out larger than they are go raw in a second one,
        // as in a settings trial.
        std::vector<bool> larger(scan.runs.size(), false);
        PassProgress pass_progress{&progress, 0};
        PassSettings pass = settings;
        pass.larger = &larger;
        pass.progress = progress.tell ? tell_pass_progress : nullptr;
        pass.progress_context = &pass_progress;
        // With one worker the verification follows the pass, reading the archive's file once.
        const bool beside = options.verify && spool.items_readback && worker_limit() > 1;
        bool verified = false;
        if (beside ? !pass_verified_beside(file, pass, result, verified) : !archive_pass(file, pass, result))
            return result;
        bool any_larger = false;
        for (size_t r = 0; r < result.runs.size(); ++r)
            if (result.runs[r].larger_than_raw) larger[r] = any_larger = true;
        if (any_larger) {
            verified = false;
            if (!archive_pass(file, pass, result)) return result;
        }
        advance_progress(progress, 0, size);
        result.flags = options.flags;

        result.verified_while_packed = verified;
        if (options.verify && !verified && !verify_until_exact(file, settings, std::move(larger), result))
            return result;
        if (!keep_all_raw_when_smaller(file, result)) return result;
        result.archive_size = target.written;
        finish_progress(progress);
        return result;
    } catch (const std::bad_alloc&) {
        result.status = PackStatus::OutOfMemory;
        return result;
    }
}

PackStatus pack_archive(const uint8_t* data, size_t size, std::vector<uint8_t>& archive,
                        const PackOptions& options) {
    PackResult result = pack_file(data, size, options);
    archive = std::move(result.archive);
    return result.status;
}

const char* item_choice_name(ItemChoice kind) {
    switch (kind) {
    case ItemChoice::Raw:
        return "raw";
    case ItemChoice::Stream:
        return "modelled";
    case ItemChoice::HeaderCopy:
        return "modelled, header copy";
    case ItemChoice::Repeat:
        return "repeated";
    }
    return "?";
}
