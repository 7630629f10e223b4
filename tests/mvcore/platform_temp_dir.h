#pragma once

// A fresh directory under the system's temporary directory, removed with everything in it when the test
// ends. Names built from it are wide strings, as the platform layer takes them.
#include <atomic>
#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <process.h>
#define MVCORE_TEST_PID _getpid()
#else
#include <unistd.h>
#define MVCORE_TEST_PID getpid()
#endif

class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("mvcore-test-" + std::to_string(MVCORE_TEST_PID) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path Child(const std::filesystem::path& name) const { return m_path / name; }
    // Joined as text: the standard library converts non-ASCII wide names with the C locale, which may
    // not know them, while the layer under test converts them itself.
    std::wstring File(const std::wstring& name) const {
#if defined(_WIN32)
        return m_path.wstring() + L"\\" + name;
#else
        return m_path.wstring() + L"/" + name;
#endif
    }

  private:
    std::filesystem::path m_path;
};
