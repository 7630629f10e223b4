// Start-up problems of a monitor reach the log manager's loggers: the environment variables are read
// by every monitor's constructor, so private monitors made after a logger is registered show them.
#include "Marvane/LogManager.h"
#include "monitor_test_support.h"
#include "process_runner.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>

using namespace monitor_test;

namespace {

class ErrorCollector : public ILogger {
  public:
    void LogError(Error::Enum code, const wchar_t* text, const ContextInfo& context) override {
        codes.push_back(code);
        texts.emplace_back(text);
        functions.emplace_back(context.function);
    }
    void LogWarning(const wchar_t*) override {}
    void LogMessage(const wchar_t*) override {}
    std::vector<Error::Enum> codes;
    std::vector<std::wstring> texts;
    std::vector<std::string> functions;
};

class MonitorDiagnostics : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(GetLogManager()->AddLogger(&collector), Error::Ok); }
    void TearDown() override {
        GetLogManager()->RemoveLogger(&collector);
        set_environment("MARVANE_DEBUGGER", "");
        set_environment("MARVANE_DEBUG_LOG", "");
    }
    ErrorCollector collector;
};

TEST_F(MonitorDiagnostics, MissingDebuggerVariable) {
    set_environment("MARVANE_DEBUGGER", "");
    auto monitor = std::make_unique<TestMonitor>();
    ASSERT_EQ(collector.codes.size(), 1u);
    EXPECT_EQ(collector.codes[0], Error::InvalidState);
    EXPECT_EQ(collector.texts[0], L"Performance env var not found");
    EXPECT_EQ(collector.functions[0], "Marvane::Performance::PerformanceMonitor::PerformanceMonitor");
    EXPECT_FALSE(monitor->IsCapturing());
}

TEST_F(MonitorDiagnostics, MissingLogVariable) {
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", "");
    auto monitor = std::make_unique<TestMonitor>();
    ASSERT_EQ(collector.codes.size(), 1u);
    EXPECT_EQ(collector.codes[0], Error::InvalidState);
    EXPECT_EQ(collector.texts[0], L"Log file env var not found");
}

TEST_F(MonitorDiagnostics, UnwritableLogFile) {
    const auto path = program_scratch_dir() / "no-such-dir" / "log.mplg";
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", path.string());
    auto monitor = std::make_unique<TestMonitor>();
    ASSERT_EQ(collector.codes.size(), 1u);
    EXPECT_EQ(collector.codes[0], Error::IO);
    EXPECT_EQ(collector.texts[0], L"Error writing to performance log '" + path.wstring() + L"'");
    EXPECT_FALSE(monitor->IsCapturing());
}

// Like every text of the log manager, the diagnostic is cut to 2047 characters.
TEST_F(MonitorDiagnostics, ALongLogPathIsCutLikeEveryOtherText) {
    const std::string directory(3000, 'd');
    const auto path = program_scratch_dir() / directory / "log.mplg";
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", path.string());
    auto monitor = std::make_unique<TestMonitor>();
    ASSERT_EQ(collector.codes.size(), 1u);
    EXPECT_EQ(collector.codes[0], Error::IO);
    const std::wstring full = L"Error writing to performance log '" + path.wstring() + L"'";
    EXPECT_EQ(collector.texts[0], full.substr(0, 2047));
}

#if !defined(_WIN32)
// The environment holds bytes on POSIX systems: a log path that is not UTF-8 cannot be taken over with
// replacement characters, which would name (and create) another file.
TEST_F(MonitorDiagnostics, ALogPathThatIsNotUtf8IsNotUsed) {
    const ScratchDir scratch("mvcore-diagnostics");
    const std::filesystem::path& directory = scratch.path();
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", directory.string() + "/log\xff\xfe.mplg");
    auto monitor = std::make_unique<TestMonitor>();
    ASSERT_EQ(collector.codes.size(), 1u);
    EXPECT_EQ(collector.texts[0], L"Log file env var not found");
    EXPECT_FALSE(monitor->IsCapturing());
    monitor.reset();
    EXPECT_TRUE(std::filesystem::is_empty(directory)) << "a file under another name was created";
}

// A wide log path holding no Unicode text has no UTF-8 name: the capture fails instead of writing a file
// whose name has U+FFFD in place of the damaged unit.
TEST_F(MonitorDiagnostics, ALogPathWithALoneSurrogateIsRefused) {
    const ScratchDir scratch("mvcore-diagnostics");
    const std::filesystem::path& directory = scratch.path();
    auto monitor = std::make_unique<TestMonitor>();
    const std::wstring path = directory.wstring() + L"/log" + static_cast<wchar_t>(0xD800) + L".mplg";
    EXPECT_EQ(monitor->StartRecord(path.c_str()), Error::IO);
    EXPECT_FALSE(monitor->IsCapturing());
    EXPECT_TRUE(std::filesystem::is_empty(directory)) << "a file under another name was created";
}
#endif

TEST_F(MonitorDiagnostics, BothVariablesStartCapturingWithoutComplaint) {
    const auto path = TempPath("diagnostics");
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", path.string());
    auto monitor = std::make_unique<TestMonitor>();
    EXPECT_TRUE(collector.codes.empty());
    EXPECT_TRUE(monitor->IsCapturing());
    monitor.reset();
    EXPECT_GE(std::filesystem::file_size(path), 26u);
    std::filesystem::remove(path);
}

} // namespace
