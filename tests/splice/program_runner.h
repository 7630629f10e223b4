#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace splice_test {

struct RunResult {
    int exit_code = -1;
    std::string out; // standard output
    std::string err; // standard error
};

struct RunOptions {
    // POSIX only: run the child under this user and group id instead of ours (-1 keeps ours).
    long run_as_id = -1;
};

// The splice program of this build: next to the test program, else in PROJECT_BIN_DIR.
std::filesystem::path splice_program();

// Starts `program` with `arguments`, captures its output in files under `capture_dir` and waits for it.
RunResult run_program(const std::filesystem::path& program,
                      const std::vector<std::filesystem::path>& arguments,
                      const std::filesystem::path& capture_dir, const RunOptions& options = {});

} // namespace splice_test
