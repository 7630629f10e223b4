// talvo-pack: packs files into archives that talvo restores byte for byte, and restores, tests and
// lists such archives (see --help). Built a second time as talvo-unpack, which restores by default.

#include "cli/batch_progress.h"
#include "cli/file_jobs.h"
#include "cli/file_system.h"
#include "cli/interrupt.h"
#include "cli/pack_command.h"
#include "workers/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
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
    std::atomic<size_t> next_job{0};

    run_tasks(files_at_once(command), [&](size_t, int) {
        for (size_t i = next_job.fetch_add(1); i < jobs.size(); i = next_job.fetch_add(1)) {
            FileOutcome outcome = interrupted() ? FileOutcome{kExitFailure, "", ""} : job(env, jobs[i]);
            progress.file_done();
            std::lock_guard<std::mutex> lock(print_mutex);
            outcomes[i] = std::move(outcome);
            finished[i] = 1;
            for (; next_to_print < jobs.size() && finished[next_to_print]; ++next_to_print) {
                FileOutcome& done = outcomes[next_to_print];
                if (!done.report.empty()) progress.print(stdout, done.report);
                if (!done.errors.empty()) progress.print(stderr, done.errors);
                worst = std::max(worst, done.exit_code);
                done = FileOutcome{};
            }
        }
    });
    progress.finish();
    return interrupted() ? kExitInterrupted : worst;
}

} // namespace

int main(int argc, char** argv) {
    use_binary_standard_streams();
    const std::vector<std::string> args = expand_wildcards(program_arguments(argc, argv));
    const PackCommand command = parse_pack_command(args, kRestoreByDefault, !is_terminal(stdin));
    switch (command.action) {
    case PackCommand::Action::Help:
        std::fputs(kPackUsage, stdout);
        std::fputs(kPackHelp, stdout);
        return kExitOk;
    case PackCommand::Action::Version:
        std::printf("%s %s\n", kProgram, TALVO_VERSION);
        return kExitOk;
    case PackCommand::Action::Usage:
        std::fprintf(stderr, "%s: %s\n%s", kProgram, command.error.c_str(), kPackUsage);
        return kExitUsage;
    case PackCommand::Action::Pack:
        break;
    }
    set_worker_limit(command.workers);
    install_interrupt_handlers();
    return run_jobs(command);
}
