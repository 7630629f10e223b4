#pragma once

// One file's work for each mode of talvo-pack. A job prints nothing itself: it returns its messages
// (standard error) and its listing (standard output), which the program prints in the order of the
// inputs whatever order the jobs finish in.

#include "cli/batch_progress.h"
#include "cli/pack_command.h"

#include <cstdint>
#include <string>

struct JobEnvironment {
    const PackCommand& command;
    const char* program; // talvo-pack or talvo-unpack, the prefix of every message
    BatchProgress& progress;
};

struct FileOutcome {
    int exit_code = 0;  // 0 done, 1 failed
    std::string errors; // messages for standard error
    std::string report; // for standard output (listings)
    // Listings: what the total line over several archives adds up.
    uint64_t listed_items = 0;
    uint64_t listed_item_bytes = 0;
    uint64_t listed_restored_bytes = 0;
    uint64_t listed_archive_size = 0; // 0 when unknown (standard input)
};

FileOutcome pack_job(const JobEnvironment& env, const PackJob& job);
FileOutcome restore_job(const JobEnvironment& env, const PackJob& job);
FileOutcome test_job(const JobEnvironment& env, const PackJob& job);
FileOutcome list_job(const JobEnvironment& env, const PackJob& job);

// How a job names its input in messages ("-" is standard input).
std::string display_name(const std::string& name);
