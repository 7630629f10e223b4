#pragma once

// A fresh directory under the system's temporary directory for one test (or one test program), removed
// with everything in it when it goes out of scope.

#include <filesystem>
#include <string>

class ScratchDir {
  public:
    // The directory's name is `prefix`, ".scratch-", the process id and a counter. A directory that
    // cannot be made ends the program with a message: no test can run without its files. The first one
    // a program makes also removes (POSIX) what killed test programs left behind an hour or more ago.
    explicit ScratchDir(const std::string& prefix = "test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }
    // A name inside the directory as UTF-8 text; `name` is UTF-8 too, whatever the system's code page.
    std::string file(const std::string& name) const;
    // A name inside the directory as wide text, joined without the standard library's conversion through
    // the C locale (which may not know names outside ASCII).
    std::wstring wide_file(const std::wstring& name) const;

  private:
    std::filesystem::path path_;
};

// POSIX: removes the scratch directories under `base` that test programs killed before they could
// (a time limit, a crash) left behind: ours, their process gone, unchanged for an hour (a directory still
// in use but quiet that long, in a process this system does not show, is not worth the risk).
void remove_orphaned_scratch_dirs(const std::filesystem::path& base);

// One scratch directory for the whole test program, made on first use and removed when the program ends.
const ScratchDir& program_scratch_dir();

// A path from UTF-8 text, and back: on Windows std::filesystem::path's narrow strings use the ANSI code
// page, not UTF-8.
std::filesystem::path utf8_path(const std::string& text);
std::string utf8_text(const std::filesystem::path& path);

unsigned long current_process_id();
