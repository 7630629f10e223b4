// Packing one input into one archive: read it whole, pack (and verify) it in memory, write the archive
// under a temporary name and rename it into place.

#include "cli/file_jobs.h"
#include "cli/file_system.h"
#include "cli/interrupt.h"
#include "cli/text_format.h"
#include "coder/zeroed_memory.h"
#include "pack/packer.h"

#include <algorithm>
#include <cstdint>

namespace {

// The input, whole. Read into zero pages sized from the file's length (huge pages where the system
// offers them, so that reading a large file does not fault page by page); a pipe, or a file that grows
// while it is read, is gathered in a vector instead.
struct InputBytes {
    ZeroedBlock<uint8_t> block;
    std::vector<uint8_t> grown;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

bool read_growing(FILE* file, InputBytes& input) {
    std::vector<uint8_t>& bytes = input.grown;
    bytes.assign(input.data, input.data + input.size);
    size_t filled = bytes.size();
    for (;;) {
        if (filled == bytes.size()) bytes.resize(std::max<size_t>(2 * bytes.size(), size_t{1} << 16));
        const size_t n = std::fread(bytes.data() + filled, 1, bytes.size() - filled, file);
        filled += n;
        if (n == 0) break;
    }
    bytes.resize(filled);
    input.block.reset();
    input.data = bytes.data();
    input.size = bytes.size();
    return !std::ferror(file);
}

// `expected` is the size the file had when it was listed (0 for a pipe).
bool read_whole(FILE* file, InputBytes& input, uint64_t expected) {
    if (expected > 0 && expected < SIZE_MAX / 2) {
        // One byte more than expected: reading it means the file has grown.
        const size_t capacity = static_cast<size_t>(expected) + 1;
        input.block = allocate_zeroed<uint8_t>(capacity);
        if (input.block) {
            size_t filled = 0;
            size_t n = 0;
            while (filled < capacity &&
                   (n = std::fread(input.block.get() + filled, 1, capacity - filled, file)) > 0)
                filled += n;
            input.data = input.block.get();
            input.size = filled;
            if (filled < capacity) return !std::ferror(file);
        }
    }
    return read_growing(file, input);
}

bool read_input(const std::string& name, InputBytes& input) {
    if (name == kStandardStream) return read_whole(stdin, input, 0);
    FILE* file = open_file(name, "rb");
    if (!file) return false;
    const bool ok = read_whole(file, input, file_size_or_zero(name));
    std::fclose(file);
    return ok;
}

// The packer's progress within one file, as a share of the batch's bytes.
struct FileProgress {
    BatchProgress* batch;
    size_t reported = 0;
};

void show_progress(void* context, size_t done, size_t /*total*/) {
    auto* progress = static_cast<FileProgress*>(context);
    if (done <= progress->reported) return;
    progress->batch->add_bytes(done - progress->reported);
    progress->reported = done;
}

std::string run_report(const PackResult& result) {
    std::string text;
    for (const PackedRun& run : result.runs) {
        const size_t in = run.end - run.begin;
        if (run.vorbis) {
            text += text_printf("  Vorbis stream %08x: %-22s %10zu -> %10zu bytes", run.serial,
                                item_choice_name(run.kind), in, run.out_bytes);
            if (run.kind == ItemChoice::Raw)
                text += " (" + run.why + ")";
            else if (run.modelled_end < run.end)
                text += text_printf(" (%zu bytes modelled, the rest raw: %s)", run.modelled_end - run.begin,
                                    run.why.c_str());
            text += "\n";
        } else {
            text += text_printf("  other bytes at %zu: raw %10zu bytes\n", run.begin, in);
        }
    }
    text += text_printf("  settings: %d codebook slots, statistics %s\n", 16 << (result.flags & 7),
                        (result.flags & 8) ? "carried over" : "fresh per stream");
    if (result.verify_fallbacks > 0)
        text += text_printf("  %d stream(s) stored raw because they did not restore exactly\n",
                            result.verify_fallbacks);
    return text;
}

bool write_archive(const PackJob& job, const std::vector<uint8_t>& archive, bool force, std::string& error) {
    if (job.output == kStandardStream) {
        if (std::fwrite(archive.data(), 1, archive.size(), stdout) != archive.size() ||
            std::fflush(stdout) != 0) {
            error = "cannot write to standard output";
            return false;
        }
        return true;
    }
    PendingOutput pending;
    if (!open_pending_output(job.output, pending, error)) return false;
    const bool written = std::fwrite(archive.data(), 1, archive.size(), pending.file) == archive.size();
    if (!written || interrupted()) {
        discard_pending_output(pending);
        error = interrupted() ? "interrupted" : "cannot write " + job.output;
        return false;
    }
    return commit_pending_output(pending, job.input == kStandardStream ? "" : job.input, force, error);
}

} // namespace

FileOutcome pack_job(const JobEnvironment& env, const PackJob& job) {
    const PackCommand& command = env.command;
    const std::string name = display_name(job.input);
    FileOutcome outcome;
    auto fail = [&](const std::string& message) {
        outcome.errors += std::string(env.program) + ": " + name + ": " + message + "\n";
        outcome.exit_code = 1;
        return outcome;
    };
    const bool to_stdout = job.output == kStandardStream;
    if (to_stdout && is_terminal(stdout))
        return fail("an archive is not written to a terminal (redirect standard output)");
    if (job.input != kStandardStream && is_directory(job.input)) return fail("is a directory");
    InputBytes input;
    if (!read_input(job.input, input)) return fail("cannot read it");
    if (!to_stdout && file_exists(job.output)) {
        if (job.input != kStandardStream && same_file(job.input, job.output))
            return fail("the archive would replace the input");
        if (!command.force) return fail(job.output + " exists (use -f to overwrite it)");
    }

    PackOptions options = command.options;
    FileProgress progress{&env.progress};
    options.progress = show_progress;
    options.progress_context = &progress;
    const PackResult result = pack_file(input.data, input.size, options);
    if (input.size > progress.reported) env.progress.add_bytes(input.size - progress.reported);
    switch (result.status) {
    case PackStatus::Ok:
        break;
    case PackStatus::OutOfMemory:
        return fail("out of memory");
    case PackStatus::VerifyFailed:
        return fail("the archive did not unpack to the input; nothing written");
    }
    std::string error;
    if (!write_archive(job, result.archive, command.force, error)) return fail(error);
    if (!command.quiet) {
        const double ratio = (input.size == 0) ? 0.0
                                               : 100.0 * static_cast<double>(result.archive.size()) /
                                                     static_cast<double>(input.size);
        outcome.errors +=
            text_printf("%s: %zu -> %zu bytes (%.1f%%) -> %s\n", name.c_str(), input.size,
                        result.archive.size(), ratio, to_stdout ? "(standard output)" : job.output.c_str());
    }
    if (command.verbose) outcome.errors += run_report(result);
    return outcome;
}
