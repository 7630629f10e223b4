#pragma once

// Files as the command line sees them. Names are UTF-8 strings throughout the program; on Windows they
// reach the system as UTF-16, so any Unicode name works. An output is written under a temporary name
// beside its final one and renamed into place only when it is complete, so nothing ever appears under
// the final name but a whole file.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

std::filesystem::path file_path(const std::string& utf8);
// Sets errno when it fails, as fopen does.
FILE* open_file(const std::string& utf8, const char* mode);
bool file_exists(const std::string& utf8);
bool is_directory(const std::string& utf8);

// What a name stands for, a final symbolic link not followed.
enum class FileKind : uint8_t { Missing, Regular, Directory, SymbolicLink, Other };
FileKind file_kind(const std::string& utf8);

// Why an input is not to be read, or "" when it is: a directory never; without `force`, a symbolic
// link or a file that is not regular (a device, a FIFO), as gzip refuses them.
std::string input_refusal(const std::string& utf8, bool force);

// Removes an input whose output is complete; false, with the message, when the system refuses.
bool remove_input(const std::string& utf8, std::string& error);

// The system's own words for a failure ("No such file or directory", "Permission denied", ...): an
// errno value, or an error from std::filesystem (on Windows a system error is worded by the system).
std::string errno_text(int error);
std::string error_text(const std::error_code& error);
bool same_file(const std::string& a, const std::string& b);
uint64_t file_size_or_zero(const std::string& utf8);
bool is_terminal(FILE* stream);

// Standard input and output carry bytes, not text (Windows would translate line ends).
void use_binary_standard_streams();

// The program's arguments as UTF-8 (on Windows taken from the wide command line).
std::vector<std::string> program_arguments(int argc, char** argv);
// Operands with * or ? that name no file are expanded where the shell does not (Windows), sorted; a
// pattern that matches nothing stays as it is.
std::vector<std::string> expand_wildcards(const std::vector<std::string>& operands);

// A file's modification time (nanoseconds since 1970-01-01 UTC) and permission bits (the low 12 bits
// of a POSIX mode; on Windows only the read-only attribute stands behind them).
struct FileStamp {
    int64_t mtime_ns = 0;
    uint16_t permissions = 0;
};
bool read_file_stamp(const std::string& utf8, FileStamp& stamp);
void apply_file_stamp(const std::string& utf8, const FileStamp& stamp);

// The regular files under a directory, at any depth, as paths relative to it with '/' between their
// components, sorted byte by byte. Symbolic links and other files that are not regular are left out.
bool list_tree(const std::string& directory, std::vector<std::string>& files, std::string& error);

// Makes the directories of `relative` (a checked member path, '/' between components) under `root`, up
// to but not including its last component. Refuses, with why, a component that is a symbolic link or
// not a directory, so nothing is ever written outside `root`.
bool make_parent_directories(const std::string& root, const std::string& relative, std::string& error);
// Why the file `relative` may not be written under `root` ("" when it may): a directory on its way that
// is a symbolic link or not a directory, a directory in its place, or (without `force`) a file there.
std::string member_target_refusal(const std::string& root, const std::string& relative, bool force);
// `root` and `relative` joined.
std::string join_path(const std::string& root, const std::string& relative);

struct PendingOutput {
    std::string final_name;
    std::string temp_name;
    FILE* file = nullptr;
    int interrupt_slot = -1; // where the interrupt handler finds temp_name
};

// Creates a temporary file beside `final_name`, open for writing and reading. Messages name the final
// name, never the temporary one.
bool open_pending_output(const std::string& final_name, PendingOutput& output, std::string& error);
// Closes the temporary file, gives it the modification time and permissions of `metadata_from` (unless
// empty) and renames it to its final name; refuses an existing final name without `force`. On failure
// the temporary file is removed. `durable`: the data reaches the disk before the rename (an input is
// about to be removed).
// `stamp`, when given, is applied instead of `metadata_from`'s.
bool commit_pending_output(PendingOutput& output, const std::string& metadata_from, bool force,
                           std::string& error, bool durable = false, const FileStamp* stamp = nullptr);
// Closes and removes the temporary file.
void discard_pending_output(PendingOutput& output);
