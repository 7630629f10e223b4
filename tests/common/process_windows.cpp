// The process runner on Windows (the mingw builds, run under wine): CreateProcessW with a quoted UTF-16
// command line, pipes or files for the standard streams.

#include "process_platform.h"
#include "windows_command_line.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <windows.h>

struct ChildProcess {
    HANDLE process = nullptr;
    HANDLE input = nullptr; // the parent's end of the child's standard-input pipe (InputFrom::Pipe)
    std::thread feeder, out_reader, err_reader;
    double timeout_seconds = 0;
    bool as_console_text = false;
    bool waited = false;
    ProcessRun run;
};

namespace {

std::wstring to_utf16(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string to_utf8(const std::wstring& utf16) {
    if (utf16.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), text.data(), size, nullptr,
                        nullptr);
    return text;
}

std::string system_error(const std::string& what, DWORD code) {
    wchar_t* message = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::string text = what + ": error " + std::to_string(code);
    if (message) {
        std::string words = to_utf8(message);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
            words.pop_back();
        text += " (" + words + ")";
        LocalFree(message);
    }
    return text;
}

void close_handle(HANDLE& handle) {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

struct StreamEnds {
    HANDLE child = nullptr;
    HANDLE parent = nullptr;
};

HANDLE inheritable_file(const std::filesystem::path& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE handle =
        CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// A pipe whose child end alone is inheritable.
bool make_pipe(StreamEnds& ends, bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
    ends.child = child_reads ? read_end : write_end;
    ends.parent = child_reads ? write_end : read_end;
    SetHandleInformation(ends.parent, HANDLE_FLAG_INHERIT, 0);
    return true;
}

bool open_input(const ProcessOptions& options, StreamEnds& ends, std::string& error) {
    switch (options.input) {
    case InputFrom::NullDevice:
        ends.child = inheritable_file(L"NUL", false);
        break;
    case InputFrom::File:
        ends.child = inheritable_file(options.stdin_file, false);
        break;
    case InputFrom::Memory:
    case InputFrom::Pipe:
        make_pipe(ends, true);
        break;
    }
    if (!ends.child) error = system_error("cannot open the standard input", GetLastError());
    return ends.child != nullptr;
}

bool open_output(OutputTo target, const std::filesystem::path& file, DWORD inherited, StreamEnds& ends,
                 std::string& error) {
    switch (target) {
    case OutputTo::Inherit: {
        // Duplicated, so that it is inheritable whatever the test program's own handle is.
        const HANDLE own = GetStdHandle(inherited);
        if (own && own != INVALID_HANDLE_VALUE)
            DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &ends.child, 0, TRUE,
                            DUPLICATE_SAME_ACCESS);
        return true;
    }
    case OutputTo::NullDevice:
        ends.child = inheritable_file(L"NUL", true);
        break;
    case OutputTo::File:
        ends.child = inheritable_file(file, true);
        break;
    case OutputTo::Capture:
        make_pipe(ends, false);
        break;
    }
    if (!ends.child) error = system_error("cannot open " + file.string(), GetLastError());
    return ends.child != nullptr;
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void read_all(HANDLE handle, std::string* text) {
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(handle, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text->append(buffer, got);
    CloseHandle(handle);
}

void write_all(HANDLE handle, std::string bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        if (!WriteFile(handle, bytes.data() + done, chunk, &put, nullptr)) break; // the child closed its end
        done += put;
    }
    CloseHandle(handle);
}

// Handles are made inheritable only while no other thread of ours starts a child, so that no child
// inherits a pipe end meant for another (the pipe would then not close when its own child ends).
std::mutex& start_lock() {
    static std::mutex lock;
    return lock;
}

// Start failures wine gives rarely and then not again (issue seen as a CreateProcess failure in one run
// of many) are tried once more; a missing program is not.
bool worth_retrying(DWORD code) {
    return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND && code != ERROR_BAD_EXE_FORMAT &&
           code != ERROR_ACCESS_DENIED;
}

} // namespace

ChildHandle start_process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options) {
    ChildHandle child(new ChildProcess);
    child->timeout_seconds = options.timeout_seconds;
    child->as_console_text = options.as_console_text;
    std::vector<std::wstring> wide_arguments;
    for (const std::string& argument : arguments)
        wide_arguments.push_back(to_utf16(argument));
    std::wstring line = windows_command_line(program.native(), wide_arguments);
    // A program named without a folder is looked up the way the system does; a path is taken as it is.
    const wchar_t* application = program.has_parent_path() ? program.c_str() : nullptr;

    StreamEnds streams[3];
    std::string error;
    PROCESS_INFORMATION process{};
    {
        std::lock_guard<std::mutex> hold(start_lock());
        const bool opened =
            open_input(options, streams[0], error) &&
            open_output(options.output, options.stdout_file, STD_OUTPUT_HANDLE, streams[1], error) &&
            open_output(options.errors, options.stderr_file, STD_ERROR_HANDLE, streams[2], error);
        if (opened) {
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = streams[0].child;
            startup.hStdOutput = streams[1].child;
            startup.hStdError = streams[2].child;
            std::string codes;
            for (int attempt = 0; attempt < 3; ++attempt) {
                std::vector<wchar_t> text(line.begin(), line.end());
                text.push_back(L'\0');
                if (CreateProcessW(application, text.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &process)) {
                    child->run.started = true;
                    break;
                }
                const DWORD code = GetLastError(); // before any other call overwrites it
                error = system_error("CreateProcessW cannot start " + to_utf8(program.native()), code);
                codes += (codes.empty() ? "" : ", ") + std::to_string(code);
                if (!worth_retrying(code)) break;
                Sleep(50);
            }
            if (!child->run.started && codes.find(',') != std::string::npos)
                error += "; every try failed, with errors " + codes;
        }
        for (StreamEnds& ends : streams)
            close_handle(ends.child);
    }
    if (!child->run.started) {
        for (StreamEnds& ends : streams)
            close_handle(ends.parent);
        // With whatever the child (or wine, starting it) wrote before it gave up.
        if (options.errors == OutputTo::File) error += ": " + file_text(options.stderr_file);
        child->run.start_error = error;
        child->waited = true;
        return child;
    }
    CloseHandle(process.hThread);
    child->process = process.hProcess;
    if (options.input == InputFrom::Memory)
        child->feeder = std::thread(write_all, streams[0].parent, options.stdin_bytes);
    else
        child->input = streams[0].parent;
    if (streams[1].parent) child->out_reader = std::thread(read_all, streams[1].parent, &child->run.out);
    if (streams[2].parent) child->err_reader = std::thread(read_all, streams[2].parent, &child->run.err);
    return child;
}

bool write_to_child(ChildProcess& child, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0 && child.input) {
        DWORD put = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
        if (!WriteFile(child.input, bytes, chunk, &put, nullptr)) return false;
        bytes += put;
        size -= put;
    }
    return size == 0;
}

void close_child_input(ChildProcess& child) {
    close_handle(child.input);
}

bool signal_child(ChildProcess& child, int) {
    return child.process && !child.waited && TerminateProcess(child.process, 1);
}

ProcessRun wait_process(ChildProcess& child) {
    if (!child.waited) {
        const DWORD limit =
            child.timeout_seconds > 0 ? static_cast<DWORD>(child.timeout_seconds * 1000) : INFINITE;
        if (WaitForSingleObject(child.process, limit) == WAIT_TIMEOUT) {
            TerminateProcess(child.process, 1);
            WaitForSingleObject(child.process, INFINITE);
            child.run.timed_out = true;
        }
        DWORD code = 0;
        GetExitCodeProcess(child.process, &code);
        child.run.exit_code = static_cast<int>(code);
        close_handle(child.process);
        child.waited = true;
    }
    close_handle(child.input);
    join_child_output({&child.feeder, &child.out_reader, &child.err_reader}, child.run,
                      child.as_console_text);
    return child.run;
}

void ChildProcessDeleter::operator()(ChildProcess* child) const {
    if (!child->waited) TerminateProcess(child->process, 1);
    wait_process(*child);
    delete child;
}
