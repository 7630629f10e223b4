// Packing one input into one archive: map it (or read a pipe whole), pack (and verify) it in memory,
// write the archive under a temporary name and rename it into place.

#include "cli/file_jobs.h"
#include "cli/file_system.h"
#include "cli/interrupt.h"
#include "cli/mapped_file.h"
#include "cli/text_format.h"
#include "pack/packer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <vector>

namespace {

// The input, whole: a regular file mapped, anything else (a pipe, a device with -f) read into memory.
struct InputBytes {
    MappedFile map;
    std::vector<uint8_t> read;
    const uint8_t* data = nullptr;
    size_t size = 0;
    InputBytes() = default;
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;
    ~InputBytes() { unmap_file(map); }
};

const char kOutOfMemory[] = "out of memory";

bool read_stream(FILE* file, InputBytes& input, std::string& error) {
    std::vector<uint8_t>& bytes = input.read;
    size_t filled = 0;
    try {
        for (;;) {
            if (filled == bytes.size()) bytes.resize(std::max<size_t>(2 * bytes.size(), size_t{1} << 16));
            const size_t n = std::fread(bytes.data() + filled, 1, bytes.size() - filled, file);
            filled += n;
            if (n == 0) break;
        }
    } catch (const std::bad_alloc&) {
        std::vector<uint8_t>().swap(bytes);
        error = kOutOfMemory;
        return false;
    }
    if (std::ferror(file)) {
        error = "cannot read it: " + errno_text(errno);
        return false;
    }
    bytes.resize(filled);
    input.data = bytes.data();
    input.size = bytes.size();
    return true;
}

bool read_input(const std::string& name, InputBytes& input, std::string& error) {
    if (name == kStandardStream) return read_stream(stdin, input, error);
    FILE* file = open_file(name, "rb");
    if (!file) {
        error = errno_text(errno);
        return false;
    }
    int reason = 0;
    bool ok = true;
    switch (map_file(file, input.map, reason)) {
    case MapResult::Mapped:
        input.data = input.map.data;
        input.size = input.map.size;
        break;
    case MapResult::NotRegular:
        ok = read_stream(file, input, error);
        break;
    case MapResult::Failed:
        error = reason == ENOMEM ? kOutOfMemory : "cannot read it: " + errno_text(reason);
        ok = false;
        break;
    }
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

bool write_archive(const PackJob& job, const std::vector<uint8_t>& archive, const PackCommand& command,
                   std::string& error) {
    if (job.output == kStandardStream) {
        if (std::fwrite(archive.data(), 1, archive.size(), stdout) != archive.size() ||
            std::fflush(stdout) != 0) {
            error = "cannot write to standard output: " + errno_text(errno);
            return false;
        }
        return true;
    }
    PendingOutput pending;
    if (!open_pending_output(job.output, pending, error)) return false;
    const bool written = std::fwrite(archive.data(), 1, archive.size(), pending.file) == archive.size();
    const int reason = errno;
    if (!written || interrupted()) {
        discard_pending_output(pending);
        error = interrupted() ? "interrupted" : "cannot write " + job.output + ": " + errno_text(reason);
        return false;
    }
    return commit_pending_output(pending, job.input == kStandardStream ? "" : job.input, command.force, error,
                                 command.remove_inputs);
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
    if (job.input != kStandardStream) {
        const std::string refusal = input_refusal(job.input, command.force || to_stdout);
        if (!refusal.empty()) return fail(refusal);
        // Packed again it would only grow; an archive named on purpose (-o, -c) is packed.
        if (has_archive_suffix(job.input) && job.output == job.input + kArchiveSuffix)
            return fail("already ends in .talvo, left alone (name the output with -o to pack it again)");
    }
    if (!to_stdout) {
        if (is_directory(job.output)) return fail(job.output + ": " + errno_text(EISDIR));
        if (file_exists(job.output)) {
            if (job.input != kStandardStream && same_file(job.input, job.output))
                return fail("the archive would replace the input");
            if (!command.force) return fail(job.output + " exists (use -f to overwrite it)");
        }
    }
    InputBytes input;
    std::string error;
    if (!read_input(job.input, input, error)) return fail(error);

    PackOptions options = command.options;
    FileProgress progress{&env.progress};
    options.progress = show_progress;
    options.progress_context = &progress;
    const PackResult result = pack_file(input.data, input.size, options);
    switch (result.status) {
    case PackStatus::Ok:
        // The progress line counts the rest of a file only once it is packed, never after a failure.
        if (input.size > progress.reported) env.progress.add_bytes(input.size - progress.reported);
        break;
    case PackStatus::OutOfMemory:
        return fail(kOutOfMemory);
    case PackStatus::VerifyFailed:
        return fail("the archive did not unpack to the input; nothing written");
    }
    if (!write_archive(job, result.archive, command, error)) return fail(error);
    if (command.remove_inputs && job.input != kStandardStream && !to_stdout &&
        !remove_input(job.input, error))
        return fail(error);
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
