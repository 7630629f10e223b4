// talvo-pack: packs files into archives that talvo restores byte for byte, and restores, tests and
// lists such archives (see --help). Built a second time as talvo-unpack, which restores by default.

#include "cli/batch_progress.h"
#include "cli/file_jobs.h"
#include "cli/file_system.h"
#include "cli/interrupt.h"
#include "cli/pack_command.h"
#include "cli/text_format.h"
#include "workers/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#ifndef TALVO_VERSION
#define TALVO_VERSION "0.1.1"
#endif

#ifdef TALVO_UNPACK_BY_DEFAULT
constexpr bool kRestoreByDefault = true;
constexpr const char kProgram[] = "talvo-unpack";
#else
constexpr bool kRestoreByDefault = false;
constexpr const char kProgram[] = "talvo-pack";
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

using Job = FileOutcome (*)(const JobEnvironment&, const PackJob&);

Job job_for(FileMode mode) {
    switch (mode) {
    case FileMode::Pack:
        return pack_job;
    case FileMode::Restore:
        return restore_job;
    case FileMode::Test:
        return test_job;
    case FileMode::List:
        return list_job;
    }
    return pack_job;
}

// Every file that can be at work at once. A restore, test or listing runs the archive reader's own
// thread beside the worker that decodes, so half the limit's files at once keep the process within
// `worker_limit()` threads (-j 1 gives one file at a time: talvo's own two threads). Packing verifies
// from memory, which starts no reader thread: one thread a file, and the settings trials of each file
// take what the files leave of the limit.
// Standard input and output are one stream each: files that use them go one at a time, in order.
size_t files_at_once(const PackCommand& command) {
    const std::vector<PackJob>& jobs = command.jobs;
    for (const PackJob& job : jobs)
        if (job.input == kStandardStream || job.output == kStandardStream) return 1;
    const int threads_per_file = command.mode == FileMode::Pack ? 1 : 2;
    const size_t files = static_cast<size_t>(std::max(1, worker_limit() / threads_per_file));
    return std::min(jobs.size(), files);
}

// A job that runs out of memory outside the places that expect it fails alone; the others go on.
FileOutcome run_job(Job job, const JobEnvironment& env, const PackJob& file) {
    try {
        return job(env, file);
    } catch (const std::bad_alloc&) {
        return FileOutcome{kExitFailure,
                           std::string(kProgram) + ": " + display_name(file.input) + ": out of memory\n", ""};
    }
}

// The line that ends the listing of several archives.
std::string listing_total(const std::vector<FileOutcome>& listed) {
    uint64_t items = 0, item_bytes = 0, restored = 0, archives = 0;
    bool sizes_known = true;
    for (const FileOutcome& outcome : listed) {
        items += outcome.listed_items;
        item_bytes += outcome.listed_item_bytes;
        restored += outcome.listed_restored_bytes;
        archives += outcome.listed_archive_size;
        sizes_known = sizes_known && outcome.listed_archive_size > 0;
    }
    std::string line = text_printf(
        "%6s  %-17s %12" PRIu64 " %12" PRIu64, "all",
        text_printf("%zu archives, %" PRIu64 " items", listed.size(), items).c_str(), item_bytes, restored);
    if (sizes_known && restored > 0)
        line += text_printf("  (archives %" PRIu64 " bytes, %.1f%%)", archives,
                            100.0 * static_cast<double>(archives) / static_cast<double>(restored));
    return line + "\n";
}

uint64_t batch_bytes(const PackCommand& command) {
    uint64_t total = 0;
    for (const PackJob& job : command.jobs)
        if (job.input != kStandardStream) total += file_size_or_zero(job.input);
    return total;
}

// Runs every job on the worker pool and prints their outcomes in input order as soon as each one's
// predecessors are printed. The exit status is the worst of all.
int run_jobs(const PackCommand& command) {
    const std::vector<PackJob>& jobs = command.jobs;
    const bool progress_shown = !command.quiet && is_terminal(stderr) && command.mode != FileMode::List;
    BatchProgress progress(progress_shown, jobs.size(), batch_bytes(command));
    const JobEnvironment env{command, kProgram, progress};
    const Job job = job_for(command.mode);

    std::vector<FileOutcome> outcomes(jobs.size());
    std::vector<uint8_t> finished(jobs.size(), 0);
    std::mutex print_mutex;
    size_t next_to_print = 0;
    int worst = kExitOk;
    bool report_failed = false; // standard output refused a listing: said once, the listings stop
    std::atomic<size_t> next_job{0};
    auto print_report = [&](const std::string& text) {
        if (report_failed) return;
        if (progress.print(stdout, text)) return;
        const int reason = errno;
        report_failed = true;
        worst = std::max(worst, kExitFailure);
        progress.print(stderr, std::string(kProgram) + ": standard output: " + errno_text(reason) + "\n");
    };

    run_tasks(files_at_once(command), [&](size_t, int) {
        for (size_t i = next_job.fetch_add(1); i < jobs.size(); i = next_job.fetch_add(1)) {
            FileOutcome outcome =
                interrupted() ? FileOutcome{kExitFailure, "", ""} : run_job(job, env, jobs[i]);
            progress.file_done(outcome.exit_code != kExitOk);
            std::lock_guard<std::mutex> lock(print_mutex);
            outcomes[i] = std::move(outcome);
            finished[i] = 1;
            for (; next_to_print < jobs.size() && finished[next_to_print]; ++next_to_print) {
                FileOutcome& done = outcomes[next_to_print];
                if (!done.report.empty()) print_report(done.report);
                if (!done.errors.empty()) progress.print(stderr, done.errors);
                worst = std::max(worst, done.exit_code);
                done.report.clear();
                done.errors.clear();
            }
        }
    });
    if (command.mode == FileMode::List && jobs.size() > 1 && !interrupted())
        print_report(listing_total(outcomes));
    progress.finish();
    return interrupted() ? kExitInterrupted : worst;
}

int standard_output_failed(int reason) {
    std::fprintf(stderr, "%s: standard output: %s\n", kProgram, errno_text(reason).c_str());
    return kExitFailure;
}

// Standard output's last buffered bytes and its closing can fail too (a full disk, a closed pipe):
// a run whose output did not arrive is not a success. A failure that a job or a listing met was
// reported there and left the stream's error flag set.
int close_standard_output(int exit_code) {
    if (std::ferror(stdout)) return std::max(exit_code, kExitFailure);
    if (std::fflush(stdout) != 0 || std::fclose(stdout) != 0)
        return std::max(exit_code, standard_output_failed(errno));
    return exit_code;
}

int run(int argc, char** argv) {
    use_binary_standard_streams();
    const std::vector<std::string> args = expand_wildcards(program_arguments(argc, argv));
    const PackCommand command = parse_pack_command(args, kRestoreByDefault, !is_terminal(stdin));
    switch (command.action) {
    case PackCommand::Action::Help:
        if (std::fputs(kPackUsage, stdout) < 0 || std::fputs(kPackHelp, stdout) < 0)
            return standard_output_failed(errno);
        return close_standard_output(kExitOk);
    case PackCommand::Action::Version:
        if (std::printf("%s %s\n", kProgram, TALVO_VERSION) < 0) return standard_output_failed(errno);
        return close_standard_output(kExitOk);
    case PackCommand::Action::Usage:
        std::fprintf(stderr, "%s: %s\n%s", kProgram, command.error.c_str(), kPackUsage);
        return kExitUsage;
    case PackCommand::Action::Pack:
        break;
    }
    set_worker_limit(command.workers);
    install_interrupt_handlers();
    return close_standard_output(run_jobs(command));
}

} // namespace

int main(int argc, char** argv) {
    // The last resort: every job catches its own, but nothing may end the program unannounced.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", kProgram);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
    }
    remove_temp_files();
    return kExitFailure;
}
