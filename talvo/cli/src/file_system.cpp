#include "cli/file_system.h"

#include "cli/interrupt.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), n);
    return text;
}

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string result(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), n, nullptr, nullptr);
    return result;
}
#endif

std::string temp_name_for(const std::string& final_name) {
    std::random_device random;
    std::string name;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = final_name + ".tmp" + std::to_string(random() % 1000000);
        if (!file_exists(name)) break;
    }
    return name;
}

void copy_metadata(const std::string& from, const std::string& to) {
    std::error_code ec;
    const fs::path source = file_path(from), target = file_path(to);
    const auto time = fs::last_write_time(source, ec);
    if (!ec) fs::last_write_time(target, time, ec);
    const auto status = fs::status(source, ec);
    if (!ec) fs::permissions(target, status.permissions(), ec);
}

} // namespace

fs::path file_path(const std::string& utf8_name) {
    return fs::path(std::u8string(utf8_name.begin(), utf8_name.end()));
}

FILE* open_file(const std::string& name, const char* mode) {
#ifdef _WIN32
    return _wfopen(wide(name).c_str(), wide(mode).c_str());
#else
    return std::fopen(name.c_str(), mode);
#endif
}

bool file_exists(const std::string& name) {
    std::error_code ec;
    return fs::exists(file_path(name), ec);
}

bool is_directory(const std::string& name) {
    std::error_code ec;
    return fs::is_directory(file_path(name), ec);
}

FileKind file_kind(const std::string& name) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(file_path(name), ec);
    if (ec) return FileKind::Missing;
    switch (status.type()) {
    case fs::file_type::regular:
        return FileKind::Regular;
    case fs::file_type::directory:
        return FileKind::Directory;
    case fs::file_type::symlink:
        return FileKind::SymbolicLink;
    case fs::file_type::not_found:
    case fs::file_type::none:
        return FileKind::Missing;
    default:
        return FileKind::Other;
    }
}

std::string input_refusal(const std::string& name, bool force) {
    const FileKind kind = file_kind(name);
    if (kind == FileKind::Directory || ((kind == FileKind::SymbolicLink || force) && is_directory(name)))
        return errno_text(EISDIR);
    if (force) return "";
    if (kind == FileKind::SymbolicLink) return "is a symbolic link (use -f to read what it points to)";
    if (kind == FileKind::Other) return "is not a regular file (use -f to read it)";
    return "";
}

bool remove_input(const std::string& name, std::string& error) {
    std::error_code ec;
    if (fs::remove(file_path(name), ec) || !ec) return true;
    error = "cannot remove it: " + error_text(ec);
    return false;
}

std::string errno_text(int error) {
    return std::generic_category().message(error);
}

std::string error_text(const std::error_code& error) {
#ifdef _WIN32
    if (error.category() == std::system_category()) {
        wchar_t* text = nullptr;
        const DWORD n = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(error.value()), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
        if (n > 0 && text) {
            std::string words = utf8(text);
            LocalFree(text);
            while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
                words.pop_back();
            if (!words.empty()) return words;
        }
    }
#endif
    return error.message();
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(file_path(a), file_path(b), ec);
}

uint64_t file_size_or_zero(const std::string& name) {
    std::error_code ec;
    const auto size = fs::file_size(file_path(name), ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

bool is_terminal(FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void use_binary_standard_streams() {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}

std::vector<std::string> program_arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide_args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide_args) return args;
    for (int i = 1; i < count; ++i)
        args.push_back(utf8(wide_args[i]));
    LocalFree(wide_args);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

std::vector<std::string> expand_wildcards(const std::vector<std::string>& operands) {
#ifdef _WIN32
    std::vector<std::string> expanded;
    for (const std::string& operand : operands) {
        if (operand.find_first_of("*?") == std::string::npos || file_exists(operand)) {
            expanded.push_back(operand);
            continue;
        }
        const size_t slash = operand.find_last_of("/\\:");
        const std::string dir = slash == std::string::npos ? "" : operand.substr(0, slash + 1);
        std::vector<std::string> matches;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wide(operand).c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    matches.push_back(dir + utf8(found.cFileName));
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        if (matches.empty()) {
            expanded.push_back(operand);
        } else {
            std::sort(matches.begin(), matches.end());
            expanded.insert(expanded.end(), matches.begin(), matches.end());
        }
    }
    return expanded;
#else
    return operands;
#endif
}

bool open_pending_output(const std::string& final_name, PendingOutput& output, std::string& error) {
    output.final_name = final_name;
    output.temp_name = temp_name_for(final_name);
    output.interrupt_slot = register_temp_file(output.temp_name.c_str());
#ifdef _WIN32
    output.file = open_file(output.temp_name, "w+b"); // readable too: a spooled archive is verified from it
#else
    output.file = open_file(output.temp_name, "w+bx"); // never through a link planted under that name
#endif
    if (!output.file) {
        const int reason = errno;
        unregister_temp_file(output.interrupt_slot);
        output.interrupt_slot = -1;
        error = "cannot write " + final_name + ": " + errno_text(reason);
        return false;
    }
    return true;
}

void discard_pending_output(PendingOutput& output) {
    if (output.file) std::fclose(output.file);
    output.file = nullptr;
    std::error_code ec;
    fs::remove(file_path(output.temp_name), ec);
    unregister_temp_file(output.interrupt_slot);
    output.interrupt_slot = -1;
}

namespace {

// Flushes the file's data to the disk itself; sets errno when it fails.
bool flush_to_disk(FILE* file) {
    if (std::fflush(file) != 0) return false;
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
}

} // namespace

bool commit_pending_output(PendingOutput& output, const std::string& metadata_from, bool force,
                           std::string& error, bool durable, const FileStamp* stamp) {
    errno = 0;
    const bool flushed = !durable || flush_to_disk(output.file);
    int reason = errno;
    const bool closed = std::fclose(output.file) == 0;
    if (flushed) reason = errno;
    output.file = nullptr;
    if (!flushed || !closed) {
        error = "cannot write " + output.final_name + ": " + errno_text(reason);
        discard_pending_output(output);
        return false;
    }
    if (stamp)
        apply_file_stamp(output.temp_name, *stamp);
    else if (!metadata_from.empty())
        copy_metadata(metadata_from, output.temp_name);
    if (!force && file_exists(output.final_name)) {
        error = output.final_name + " exists (use -f to overwrite it)";
        discard_pending_output(output);
        return false;
    }
    std::error_code ec;
    fs::rename(file_path(output.temp_name), file_path(output.final_name), ec);
    if (ec) {
        error = "cannot write " + output.final_name + ": " + error_text(ec);
        discard_pending_output(output);
        return false;
    }
    unregister_temp_file(output.interrupt_slot);
    output.interrupt_slot = -1;
    return true;
}

bool read_file_stamp(const std::string& name, FileStamp& stamp) {
    std::error_code ec;
    const fs::path path = file_path(name);
    const auto time = fs::last_write_time(path, ec);
    if (ec) return false;
    const auto status = fs::status(path, ec);
    if (ec) return false;
    const auto since_epoch = std::chrono::file_clock::to_sys(time).time_since_epoch();
    stamp.mtime_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    stamp.permissions = static_cast<uint16_t>(status.permissions() & fs::perms::mask);
    return true;
}

void apply_file_stamp(const std::string& name, const FileStamp& stamp) {
    std::error_code ec;
    const fs::path path = file_path(name);
    const std::chrono::sys_time<std::chrono::nanoseconds> when{std::chrono::nanoseconds(stamp.mtime_ns)};
    fs::last_write_time(path, std::chrono::file_clock::from_sys(when), ec);
    fs::permissions(path, static_cast<fs::perms>(stamp.permissions) & fs::perms::mask, ec);
}

bool list_tree(const std::string& directory, std::vector<std::string>& files, std::string& error) {
    std::error_code ec;
    const fs::path root = file_path(directory);
    fs::recursive_directory_iterator it(root, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
        const std::u8string relative = it->path().lexically_relative(root).generic_u8string();
        files.emplace_back(relative.begin(), relative.end());
    }
    if (ec) {
        error = "cannot read " + directory + ": " + error_text(ec);
        return false;
    }
    std::sort(files.begin(), files.end());
    return true;
}

std::string join_path(const std::string& root, const std::string& relative) {
    if (root.empty() || root == ".") return relative;
    return root.back() == '/' ? root + relative : root + "/" + relative;
}

namespace {

// Walks the directories of `relative` under `root`; `create` makes the missing ones.
bool walk_parents(const std::string& root, const std::string& relative, bool create, std::string& error) {
    for (size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
        const std::string directory = join_path(root, relative.substr(0, slash));
        switch (file_kind(directory)) {
        case FileKind::Directory:
            continue;
        case FileKind::Missing:
            if (!create) return true; // nothing below it exists yet
            {
                std::error_code ec;
                if (!fs::create_directory(file_path(directory), ec) && ec) {
                    error = "cannot create " + directory + ": " + error_text(ec);
                    return false;
                }
                // Made by someone else meanwhile as something other than a directory: looked at again.
                if (file_kind(directory) != FileKind::Directory) {
                    error = directory + " is not a directory";
                    return false;
                }
            }
            continue;
        case FileKind::SymbolicLink:
            error = directory + " is a symbolic link (a member is never written through one)";
            return false;
        default:
            error = directory + " is not a directory";
            return false;
        }
    }
    return true;
}

} // namespace

bool make_parent_directories(const std::string& root, const std::string& relative, std::string& error) {
    return walk_parents(root, relative, true, error);
}

std::string member_target_refusal(const std::string& root, const std::string& relative, bool force) {
    std::string error;
    if (!walk_parents(root, relative, false, error)) return error;
    const std::string target = join_path(root, relative);
    const FileKind kind = file_kind(target);
    if (kind == FileKind::Directory) return target + " is a directory (a member is never written over one)";
    if (kind != FileKind::Missing && !force) return target + " exists (use -f to overwrite it)";
    return "";
}
