#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace splice_tool {

using Path = std::filesystem::path;

// An owned C stream. Closing through close() reports errors; the destructor is the quiet path used
// when a run is already failing.
class FileStream {
  public:
    FileStream() = default;
    explicit FileStream(std::FILE* file) : file_(file) {}
    FileStream(FileStream&& other) noexcept : file_(other.file_) { other.file_ = nullptr; }
    FileStream& operator=(FileStream&& other) noexcept;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;
    ~FileStream();

    std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }

    // Flushes and closes; returns 0 or the errno value of the first failure.
    int close();

  private:
    std::FILE* file_ = nullptr;
};

// Each open sets `error` to the errno value when it fails and returns an empty stream.
// Streams are unbuffered: every transfer is a whole 1 MiB chunk, so a stdio buffer would only add a
// copy, and two streams on the same file then never see stale buffered bytes of each other.
FileStream open_for_reading(const Path& path, int& error);
// Opens an existing file for reading and writing without truncating it.
FileStream open_for_update(const Path& path, int& error);
// Creates a file that must not exist yet (EEXIST otherwise), open for reading and writing.
FileStream create_new(const Path& path, int& error);

// 64-bit positioning on every platform; false (errno set) on failure.
bool seek_to(std::FILE* file, std::uint64_t offset);
// Seeks to the end, reads the position and seeks back to the start; empty (errno set) on failure.
std::optional<std::uint64_t> measure_length(std::FILE* file);

// True when both streams are the same file, also through another name or a hard link.
bool same_file(std::FILE* a, std::FILE* b);

// Text for messages: the path as the console can show it, and an errno value's description.
std::string display_path(const Path& path);
std::string describe_errno(int error);
// An offset as messages show it: 0x followed by upper-case hex digits.
std::string hex_text(std::uint64_t value);

} // namespace splice_tool
