#pragma once

// Runs one of the built programs with arguments and captures its standard output and exit status,
// natively or, in the Windows build, as a Windows process under wine.

#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

struct ProgramRun {
    bool started = false;
    int exit_code = 0;
    std::string output; // standard output only
};

// The exit status a program's `return -1` shows up as.
#ifdef _WIN32
constexpr int kExitMinusOne = -1;
#else
constexpr int kExitMinusOne = 255;
#endif

// Distinguishes the scratch files of test programs that run at the same time.
inline unsigned long current_process_id() {
#ifdef _WIN32
    return static_cast<unsigned long>(GetCurrentProcessId());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

inline std::string program_path(const std::string& name) {
    const char* dir = std::getenv("PROJECT_BIN_DIR");
    std::string path = std::string(dir ? dir : ".") + "/" + name;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path; // a Unix path under wine
    for (char& c : path)
        if (c == '/') c = '\\';
    path += ".exe";
#endif
    return path;
}

#ifdef _WIN32
inline ProgramRun run_program(const std::string& program, const std::vector<std::string>& args) {
    ProgramRun run;
    std::string command = "\"" + program + "\"";
    for (const auto& arg : args)
        command += " \"" + arg + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return run;
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write_end;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    const BOOL created =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(write_end);
    if (!created) {
        CloseHandle(read_end);
        return run;
    }
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0)
        run.output.append(buffer, got);
    CloseHandle(read_end);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.started = true;
    run.exit_code = static_cast<int>(code);
    // Console text is written in text mode here: compare lines, not line endings.
    std::string lines;
    for (size_t i = 0; i < run.output.size(); ++i)
        if (!(run.output[i] == '\r' && i + 1 < run.output.size() && run.output[i + 1] == '\n'))
            lines += run.output[i];
    run.output = lines;
    return run;
}
#else
inline ProgramRun run_program(const std::string& program, const std::vector<std::string>& args) {
    ProgramRun run;
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return run;
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipe_ends[1], STDOUT_FILENO);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    if (child < 0) {
        close(pipe_ends[0]);
        return run;
    }
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
        run.output.append(buffer, static_cast<size_t>(got));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.started = WIFEXITED(status);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    return run;
}
#endif
