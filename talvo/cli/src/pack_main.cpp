// talvo-pack: packs each input into an archive that talvo restores byte for byte (see --help).

#include "cli/pack_command.h"
#include "pack/packer.h"
#include "workers/worker_pool.h"

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define stderr_is_terminal() (_isatty(_fileno(stderr)) != 0)
#else
#include <unistd.h>
#define stderr_is_terminal() (isatty(fileno(stderr)) != 0)
#endif

#ifndef TALVO_VERSION
#define TALVO_VERSION "0.1.1"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr size_t kProgressThreshold = size_t{4} << 20;

bool read_whole_file(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    uint8_t chunk[1 << 16];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// Writes next to `path` under a name of its own and renames it into place, so a failure never leaves
// a partial archive and never touches an archive that was there before.
bool write_archive(const std::string& path, const std::vector<uint8_t>& bytes, bool force,
                   std::string& error) {
    std::random_device random;
    std::string temp;
    std::error_code ec;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = path + ".tmp" + std::to_string(random() % 1000000);
        if (!fs::exists(temp, ec)) break;
    }
    FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) {
        error = "cannot create " + temp;
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fclose(file) == 0 && ok;
    if (ok && !force && fs::exists(path, ec)) {
        std::remove(temp.c_str());
        error = path + " exists (use -f to overwrite it)";
        return false;
    }
    if (ok) fs::rename(temp, path, ec);
    if (!ok || ec) {
        std::remove(temp.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

struct Progress {
    std::string name;
    int last_percent = -1;
};

void show_progress(void* context, size_t done, size_t total) {
    auto* progress = static_cast<Progress*>(context);
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    if (percent == progress->last_percent) return;
    progress->last_percent = percent;
    std::fprintf(stderr, "\r%s: %3d%%", progress->name.c_str(), percent);
    std::fflush(stderr);
}

void report_runs(const PackResult& result) {
    for (const PackedRun& run : result.runs) {
        const size_t in = run.end - run.begin;
        if (run.vorbis) {
            std::fprintf(stderr, "  Vorbis stream %08x: %-22s %10zu -> %10zu bytes", run.serial,
                         item_choice_name(run.kind), in, run.out_bytes);
            if (run.kind == ItemChoice::Raw)
                std::fprintf(stderr, " (%s)", run.why.c_str());
            else if (run.modelled_end < run.end)
                std::fprintf(stderr, " (%zu bytes modelled, the rest raw: %s)", run.modelled_end - run.begin,
                             run.why.c_str());
            std::fputc('\n', stderr);
        } else {
            std::fprintf(stderr, "  other bytes at %zu: raw %10zu bytes\n", run.begin, in);
        }
    }
    std::fprintf(stderr, "  settings: %d codebook slots, statistics %s\n", 16 << (result.flags & 7),
                 (result.flags & 8) ? "carried over" : "fresh per stream");
    if (result.verify_fallbacks > 0)
        std::fprintf(stderr, "  %d stream(s) stored raw because they did not restore exactly\n",
                     result.verify_fallbacks);
}

bool pack_one(const PackCommand& command, const PackJob& job) {
    std::error_code ec;
    auto fail = [&job](const std::string& message) {
        std::fprintf(stderr, "talvo-pack: %s: %s\n", job.input.c_str(), message.c_str());
        return false;
    };
    std::vector<uint8_t> input;
    if (fs::is_directory(job.input, ec)) return fail("is a directory");
    if (!read_whole_file(job.input, input)) return fail("cannot read it");
    if (fs::exists(job.archive, ec)) {
        if (fs::equivalent(job.input, job.archive, ec)) return fail("the archive would replace the input");
        if (!command.force) return fail(job.archive + " exists (use -f to overwrite it)");
    }

    PackOptions options = command.options;
    Progress progress{job.input};
    const bool show = !command.quiet && input.size() > kProgressThreshold && stderr_is_terminal();
    if (show) {
        options.progress = show_progress;
        options.progress_context = &progress;
    }
    const PackResult result = pack_file(input.data(), input.size(), options);
    if (show) std::fputs("\r\033[K", stderr);
    switch (result.status) {
    case PackStatus::Ok:
        break;
    case PackStatus::OutOfMemory:
        return fail("out of memory");
    case PackStatus::VerifyFailed:
        return fail("the archive did not unpack to the input; nothing written");
    }
    std::string error;
    if (!write_archive(job.archive, result.archive, command.force, error)) return fail(error);
    if (!command.quiet) {
        const double ratio = input.empty() ? 0.0
                                           : 100.0 * static_cast<double>(result.archive.size()) /
                                                 static_cast<double>(input.size());
        std::fprintf(stderr, "%s: %zu -> %zu bytes (%.1f%%) -> %s\n", job.input.c_str(), input.size(),
                     result.archive.size(), ratio, job.archive.c_str());
    }
    if (command.verbose) report_runs(result);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const PackCommand command = parse_pack_command(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.action) {
    case PackCommand::Action::Help:
        std::fputs(kPackUsage, stdout);
        std::fputs(kPackHelp, stdout);
        return kExitOk;
    case PackCommand::Action::Version:
        std::fputs("talvo-pack " TALVO_VERSION "\n", stdout);
        return kExitOk;
    case PackCommand::Action::Usage:
        std::fprintf(stderr, "talvo-pack: %s\n%s", command.error.c_str(), kPackUsage);
        return kExitUsage;
    case PackCommand::Action::Pack:
        break;
    }
    set_worker_limit(command.workers);
    bool all_ok = true;
    for (const PackJob& job : command.jobs)
        all_ok = pack_one(command, job) && all_ok;
    return all_ok ? kExitOk : kExitFailure;
}
