#include "scratch_dir.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Between the prefix and the process id in every scratch directory's name.
const std::string kMarker = ".scratch-";

} // namespace

#ifndef _WIN32
void remove_orphaned_scratch_dirs(const std::filesystem::path& base) {
    std::error_code error;
    const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    for (auto entry = std::filesystem::directory_iterator(base, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const size_t mark = name.find(kMarker);
        if (mark == std::string::npos) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + mark + kMarker.size(), &end, 10);
        struct stat status;
        if (pid <= 0 || *end != '-' || ::lstat(entry->path().c_str(), &status) != 0 ||
            !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid())
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        std::error_code ignored;
        if (std::filesystem::last_write_time(entry->path(), ignored) < hour_ago && !ignored)
            std::filesystem::remove_all(entry->path(), ignored);
    }
}
#else
void remove_orphaned_scratch_dirs(const std::filesystem::path&) {}
#endif

unsigned long current_process_id() {
#ifdef _WIN32
    return static_cast<unsigned long>(GetCurrentProcessId());
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::filesystem::path utf8_path(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

ScratchDir::ScratchDir(const std::string& prefix) {
    static std::atomic<unsigned> counter{0};
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
#ifndef _WIN32
    static std::once_flag swept;
    if (!error) std::call_once(swept, remove_orphaned_scratch_dirs, base);
#endif
    // The clock tells apart the directories of a process id that an earlier, crashed run also had.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF;
    for (int attempt = 0; !error && attempt < 100; ++attempt) {
        const std::string name = prefix + kMarker + std::to_string(current_process_id()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(stamp);
        path_ = base / utf8_path(name);
        if (std::filesystem::create_directory(path_, error)) return;
    }
    std::fprintf(stderr, "cannot make a scratch directory under %s: %s\n", utf8_text(base).c_str(),
                 error ? error.message().c_str() : "every name taken");
    std::abort();
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::file(const std::string& name) const {
    return utf8_text(path_ / utf8_path(name));
}

std::wstring ScratchDir::wide_file(const std::wstring& name) const {
#ifdef _WIN32
    return path_.wstring() + L"\\" + name;
#else
    return path_.wstring() + L"/" + name;
#endif
}

const ScratchDir& program_scratch_dir() {
    static const ScratchDir dir("test-program");
    return dir;
}
