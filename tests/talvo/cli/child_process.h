#pragma once

// Runs a built program as a child process with its standard input read from a file (or the null
// device) and its standard output and error written to files, natively or, in the Windows build, as a
// Windows process under wine. Arguments are UTF-8; on Windows they reach the child as UTF-16, so file
// names outside ASCII arrive intact.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

struct ChildRun {
    bool started = false;
    int exit_code = -1000;
    std::string out; // standard output, bytes as written
    std::string err; // standard error
};

inline std::filesystem::path utf8_path(const std::string& name) {
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

inline std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

#ifdef _WIN32
inline std::wstring to_wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
    return text;
}

inline HANDLE inheritable_file(const std::filesystem::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline ChildRun run_child(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& io_dir, const std::string& stdin_path = "") {
    ChildRun run;
    std::wstring command = L"\"" + to_wide(program) + L"\"";
    for (const auto& arg : args)
        command += L" \"" + to_wide(arg) + L"\"";
    const std::filesystem::path out_path = io_dir / "stdout.bin", err_path = io_dir / "stderr.txt";
    HANDLE in =
        inheritable_file(stdin_path.empty() ? std::filesystem::path(L"NUL") : utf8_path(stdin_path), false);
    HANDLE out = inheritable_file(out_path, true), err = inheritable_file(err_path, true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    const BOOL created =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (created) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        run.started = true;
        run.exit_code = static_cast<int>(code);
    }
    run.out = read_text(out_path);
    run.err = read_text(err_path);
    return run;
}
#else
// Starts the child without waiting; its pid, or -1.
inline pid_t start_child(const std::string& program, const std::vector<std::string>& args,
                         const std::filesystem::path& io_dir, int stdin_fd) {
    const std::string out_path = (io_dir / "stdout.bin").string(),
                      err_path = (io_dir / "stderr.txt").string();
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(stdin_fd, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return child;
}

// Waits for the child; the exit status, or 128 + the signal that ended it.
inline int wait_child(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1000;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline ChildRun run_child(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& io_dir, const std::string& stdin_path = "") {
    ChildRun run;
    const int in = open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY);
    if (in < 0) return run;
    const pid_t child = start_child(program, args, io_dir, in);
    close(in);
    if (child < 0) return run;
    run.exit_code = wait_child(child);
    run.started = run.exit_code != 127 && run.exit_code != -1000;
    run.out = read_text(io_dir / "stdout.bin");
    run.err = read_text(io_dir / "stderr.txt");
    return run;
}
#endif
