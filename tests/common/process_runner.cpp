// What the process runner does the same way on every platform.

#include "process_platform.h"

#include <cstdlib>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

ProcessRun run_process(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                       const ProcessOptions& options) {
    ChildHandle child = start_process(program, arguments, options);
    return wait_process(*child);
}

std::filesystem::path this_program() {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD size = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.resize(size);
    return std::filesystem::path(buffer);
#else
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self;
#endif
}

void set_environment(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    if (value.empty())
        unsetenv(name);
    else
        setenv(name, value.c_str(), 1);
#endif
}

void join_child_output(std::initializer_list<std::thread*> threads, ProcessRun& run, bool& as_console_text) {
    for (std::thread* thread : threads)
        if (thread->joinable()) thread->join();
    if (as_console_text) {
        run.out = console_text(run.out);
        run.err = console_text(run.err);
        as_console_text = false;
    }
}

std::filesystem::path program_on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
#ifdef _WIN32
    const char separator = ';';
    const std::string suffix = ".exe";
#else
    const char separator = ':';
    const std::string suffix;
#endif
    const std::string folders = path;
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(separator, start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = folders.substr(start, end - start);
        start = end + 1;
        if (folder.empty()) continue;
        const std::filesystem::path candidate = std::filesystem::path(folder) / (name + suffix);
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return {};
}

std::filesystem::path built_program(const std::string& name) {
#ifdef _WIN32
    const std::string file = name + ".exe";
#else
    const std::string& file = name;
#endif
    const std::filesystem::path beside = this_program().parent_path() / file;
    std::error_code error;
    if (std::filesystem::exists(beside, error)) return beside;
    const char* folder = std::getenv("PROJECT_BIN_DIR");
    if (!folder || !*folder) return beside;
    std::string text = folder;
#ifdef _WIN32
    if (text[0] == '/') text = "Z:" + text; // a Unix path, as wine shows the Unix file system
    for (char& c : text)
        if (c == '/') c = '\\';
#endif
    return std::filesystem::path(text) / file;
}

std::string console_text(const std::string& text) {
#ifdef _WIN32
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
    return lines;
#else
    return text;
#endif
}
