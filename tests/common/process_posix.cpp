// The process runner on POSIX systems: fork and exec, with pipes or files for the standard streams.

#include "process_platform.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

struct ChildProcess {
    pid_t pid = -1;
    int input = -1; // the parent's end of the child's standard-input pipe (InputFrom::Pipe)
    std::thread feeder, out_reader, err_reader;
    double timeout_seconds = 0;
    bool as_console_text = false;
    bool waited = false;
    ProcessRun run;
};

namespace {

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string system_error(const std::string& what, int error_number) {
    return what + ": " + std::strerror(error_number) + " (error " + std::to_string(error_number) + ")";
}

// The child's and the parent's ends of one standard stream. Every descriptor is close-on-exec, so a
// child that another thread starts at the same time inherits none of them.
struct StreamEnds {
    int child = -1;
    int parent = -1;
};

bool open_input(const ProcessOptions& options, StreamEnds& ends, std::string& error) {
    int fds[2];
    switch (options.input) {
    case InputFrom::NullDevice:
        ends.child = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        break;
    case InputFrom::File:
        ends.child = ::open(options.stdin_file.c_str(), O_RDONLY | O_CLOEXEC);
        break;
    case InputFrom::Memory:
    case InputFrom::Pipe:
        if (::pipe2(fds, O_CLOEXEC) != 0) break;
        ends.child = fds[0];
        ends.parent = fds[1];
        break;
    }
    if (ends.child < 0) error = system_error("cannot open the standard input", errno);
    return ends.child >= 0;
}

bool open_output(OutputTo target, const std::filesystem::path& file, StreamEnds& ends, std::string& error) {
    int fds[2];
    switch (target) {
    case OutputTo::Inherit:
        return true;
    case OutputTo::NullDevice:
        ends.child = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        break;
    case OutputTo::File:
        ends.child = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        break;
    case OutputTo::Capture:
        if (::pipe2(fds, O_CLOEXEC) != 0) break;
        ends.parent = fds[0];
        ends.child = fds[1];
        break;
    }
    if (ends.child < 0) error = system_error("cannot open " + file.string(), errno);
    return ends.child >= 0;
}

// Only async-signal-safe calls between fork and exec: the test program may run other threads.
[[noreturn]] void become_program(const StreamEnds (&streams)[3], const ProcessOptions& options,
                                 char* const* argv, int report) {
    // Moved above the standard numbers first: where this process had one of them closed, a stream's
    // descriptor may have taken its number and would be overwritten by another stream's.
    int fds[3];
    for (int target = 0; target < 3; ++target)
        fds[target] = streams[target].child < 0 ? -1 : ::fcntl(streams[target].child, F_DUPFD_CLOEXEC, 3);
    for (int target = 0; target < 3; ++target)
        if (fds[target] >= 0) ::dup2(fds[target], target);
    // What the test program set for itself is not the child's: the default actions, nothing blocked.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    bool ok = true;
    if (options.address_space_limit != 0) {
        const rlimit limit{options.address_space_limit, options.address_space_limit};
        ok = ok && ::setrlimit(RLIMIT_AS, &limit) == 0;
    }
    if (options.file_size_limit != 0) {
        const rlimit limit{options.file_size_limit, options.file_size_limit};
        ok = ok && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    if (ok && options.run_as_id >= 0) {
        const auto id = static_cast<uid_t>(options.run_as_id);
        ok = ::setgroups(0, nullptr) == 0 && ::setresgid(id, id, id) == 0 && ::setresuid(id, id, id) == 0;
    }
    if (ok) ::execv(argv[0], argv);
    const int error_number = errno;
    [[maybe_unused]] const ssize_t written = ::write(report, &error_number, sizeof error_number);
    ::_exit(127);
}

void read_all(int fd, std::string* text) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text->append(buffer, static_cast<size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
}

void write_all(int fd, std::string bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put > 0)
            done += static_cast<size_t>(put);
        else if (put < 0 && errno != EINTR)
            break; // the child closed its end
    }
    ::close(fd);
}

void record_status(ProcessRun& run, int status) {
    if (WIFEXITED(status)) {
        run.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
        run.exit_code = 128 + run.signal;
    }
}

} // namespace

ChildHandle start_process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options) {
    ChildHandle child(new ChildProcess);
    child->timeout_seconds = options.timeout_seconds;
    child->as_console_text = options.as_console_text;
    // A child that closes its standard input early must not end this process with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> texts = {program.native()};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    StreamEnds streams[3];
    int report[2] = {-1, -1};
    std::string error;
    const bool opened = open_input(options, streams[0], error) &&
                        open_output(options.output, options.stdout_file, streams[1], error) &&
                        open_output(options.errors, options.stderr_file, streams[2], error);
    if (opened && ::pipe2(report, O_CLOEXEC) != 0) error = system_error("cannot make a pipe", errno);
    if (opened && report[0] >= 0) {
        child->pid = ::fork();
        if (child->pid == 0) become_program(streams, options, argv.data(), report[1]);
        if (child->pid < 0) error = system_error("cannot fork", errno);
    }
    for (StreamEnds& ends : streams)
        close_fd(ends.child);
    close_fd(report[1]);
    if (child->pid > 0) {
        // The report pipe closes at exec; an error number arrives only when the child could not run.
        int error_number = 0;
        ssize_t got;
        while ((got = ::read(report[0], &error_number, sizeof error_number)) < 0 && errno == EINTR) {
        }
        if (got == sizeof error_number) {
            error = system_error("cannot run " + program.string(), error_number);
            int status = 0;
            while (::waitpid(child->pid, &status, 0) < 0 && errno == EINTR) {
            }
            child->pid = -1;
        }
    }
    close_fd(report[0]);
    if (child->pid < 0) {
        for (StreamEnds& ends : streams)
            close_fd(ends.parent);
        child->run.start_error = error;
        child->waited = true;
        return child;
    }
    child->run.started = true;
    if (options.input == InputFrom::Memory)
        child->feeder = std::thread(write_all, streams[0].parent, options.stdin_bytes);
    else
        child->input = streams[0].parent;
    if (streams[1].parent >= 0) child->out_reader = std::thread(read_all, streams[1].parent, &child->run.out);
    if (streams[2].parent >= 0) child->err_reader = std::thread(read_all, streams[2].parent, &child->run.err);
    return child;
}

bool write_to_child(ChildProcess& child, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && child.input >= 0) {
        const ssize_t put = ::write(child.input, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        bytes += put;
        size -= static_cast<size_t>(put);
    }
    return size == 0;
}

void close_child_input(ChildProcess& child) {
    close_fd(child.input);
}

bool signal_child(ChildProcess& child, int signal_number) {
    return child.pid > 0 && !child.waited && ::kill(child.pid, signal_number) == 0;
}

ProcessRun wait_process(ChildProcess& child) {
    if (!child.waited) {
        int status = 0;
        if (child.timeout_seconds > 0) {
            const auto deadline =
                std::chrono::steady_clock::now() + std::chrono::duration<double>(child.timeout_seconds);
            pid_t done;
            while ((done = ::waitpid(child.pid, &status, WNOHANG)) == 0 &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (done == 0) {
                ::kill(child.pid, SIGKILL);
                child.run.timed_out = true;
            }
            if (done <= 0)
                while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
                }
        } else {
            while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        record_status(child.run, status);
        child.waited = true;
    }
    close_fd(child.input);
    join_child_output({&child.feeder, &child.out_reader, &child.err_reader}, child.run,
                      child.as_console_text);
    return child.run;
}

void ChildProcessDeleter::operator()(ChildProcess* child) const {
    if (!child->waited) ::kill(child->pid, SIGKILL);
    wait_process(*child);
    delete child;
}
