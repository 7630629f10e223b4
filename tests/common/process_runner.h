#pragma once

// Runs a program as a child process: arguments as a list (never through a shell, so nothing needs
// quoting), standard input from the null device, a file or bytes, standard output and error captured
// or written to files. Natively a fork and exec; in the Windows build a Windows process started with
// CreateProcessW under wine, its arguments quoted here for the child's command-line parser and passed
// as UTF-16 (so that names outside ASCII arrive intact).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

enum class InputFrom {
    NullDevice,
    File,   // ProcessOptions::stdin_file
    Memory, // ProcessOptions::stdin_bytes, through a pipe
    Pipe,   // a pipe the caller writes to (start_process, write_to_child, close_child_input)
};

enum class OutputTo {
    Capture, // through a pipe into ProcessRun::out or ::err
    File,    // ProcessOptions::stdout_file or ::stderr_file, made anew
    NullDevice,
    Inherit, // this process's own stream
};

struct ProcessOptions {
    InputFrom input = InputFrom::NullDevice;
    std::filesystem::path stdin_file;
    std::string stdin_bytes;
    OutputTo output = OutputTo::Capture;
    std::filesystem::path stdout_file;
    OutputTo errors = OutputTo::Capture;
    std::filesystem::path stderr_file;
    // Captured output read as console text: on Windows a child's text-mode output ends lines with
    // "\r\n", which becomes "\n" as everywhere else.
    bool as_console_text = false;
    // The child is ended (and ProcessRun::timed_out set) once it has run this long; 0: no limit.
    double timeout_seconds = 0;
    // POSIX only. Limits set in the child before it runs the program (0: ours): bytes of address space
    // (ulimit -v) and bytes that one file may grow to (ulimit -f).
    uint64_t address_space_limit = 0;
    uint64_t file_size_limit = 0;
    // POSIX only: run the child under this user and group id instead of ours (-1 keeps ours).
    long run_as_id = -1;
};

struct ProcessRun {
    bool started = false;
    // Why the child did not start: the system's error code and message (and, on Windows, anything
    // already written to a standard-error file).
    std::string start_error;
    // The exit status; POSIX: 128 + the signal when a signal ended the child.
    int exit_code = -1;
    int signal = 0; // POSIX: the signal that ended the child, else 0
    bool timed_out = false;
    std::string out; // captured standard output, bytes as written
    std::string err; // captured standard error
};

// The exit status that a program's `return -1` shows up as.
#ifdef _WIN32
constexpr int kExitMinusOne = -1;
#else
constexpr int kExitMinusOne = 255;
#endif

// Runs `program` (a path; see program_on_path for a tool found through PATH) with `arguments` (UTF-8)
// and waits for it.
ProcessRun run_process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       const ProcessOptions& options = {});

// A started child, for a test that talks to it while it runs.
struct ChildProcess;
struct ChildProcessDeleter {
    void operator()(ChildProcess* child) const;
};
using ChildHandle = std::unique_ptr<ChildProcess, ChildProcessDeleter>;

// Starts the child; `started` in the result of wait_process tells whether it did. A handle that is
// dropped without wait_process ends the child and waits for it.
ChildHandle start_process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options = {});
// With InputFrom::Pipe: writes to the child's standard input; false once the child has closed it.
bool write_to_child(ChildProcess& child, const void* data, size_t size);
void close_child_input(ChildProcess& child);
// POSIX: sends the signal. Windows: ends the child (exit code 1) whatever the number.
bool signal_child(ChildProcess& child, int signal_number);
// Waits for the child (up to the timeout) and collects what it wrote. A child that reads its standard
// input to the end needs close_child_input first; the pipe is closed here only after the child ended.
ProcessRun wait_process(ChildProcess& child);

// The full path of the running test program (empty where the system does not tell).
std::filesystem::path this_program();
// Sets `name` in this process's environment, which children inherit; an empty value removes it (as
// Windows does with any empty value).
void set_environment(const char* name, const std::string& value);

// The full path of a program found through PATH, or an empty path.
std::filesystem::path program_on_path(const std::string& name);
// A program of this build: beside the test program, else in PROJECT_BIN_DIR (with ".exe" on Windows).
std::filesystem::path built_program(const std::string& name);

// Console text as a test compares it: on Windows "\r\n" becomes "\n" (see as_console_text).
std::string console_text(const std::string& text);
