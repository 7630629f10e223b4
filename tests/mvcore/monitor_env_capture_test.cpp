// A capture requested through MARVANE_DEBUGGER and MARVANE_DEBUG_LOG starts while the library loads.
// The variables are read only at load, so the checks run in a child process: this same program, started
// with the variables set and a filter that selects the child's half of the test.
#include "Marvane/Performance/PerformanceMonitor.h"
#include "monitor_test_support.h"
#include "process_runner.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

using namespace monitor_test;

namespace {

constexpr char ChildVariable[] = "MVCORE_MONITOR_ENV_CHILD";

// The child's exit status; what it printed goes to this program's output, where a failure shows.
int RunChild(const std::string& expectation) {
    set_environment(ChildVariable, expectation);
    ProcessOptions options;
    options.output = OutputTo::Inherit;
    options.errors = OutputTo::Inherit;
    const ProcessRun run =
        run_process(this_program(), {"--gtest_filter=MonitorEnvCapture.ChildHalf"}, options);
    set_environment(ChildVariable, "");
    set_environment("MARVANE_DEBUGGER", "");
    set_environment("MARVANE_DEBUG_LOG", "");
    if (!run.started) ADD_FAILURE() << run.start_error;
    return run.exit_code;
}

bool Contains(const std::vector<unsigned char>& haystack, const std::vector<unsigned char>& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

TEST(MonitorEnvCapture, ChildHalf) {
    const char* expectation = std::getenv(ChildVariable);
    if (expectation == nullptr) GTEST_SKIP() << "runs only as the child of the other tests";
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    if (std::string(expectation) == "capture") {
        ASSERT_TRUE(monitor->IsCapturing());
        monitor->RegisterCurrentThread(L"child main");
        monitor->CounterAdd(0, 12345);
        monitor->Tick();
        // No StopRecord: the capture is written out when the process ends.
    } else {
        EXPECT_FALSE(monitor->IsCapturing());
    }
}

TEST(MonitorEnvCapture, BothVariablesStartACaptureThatIsWrittenAtExit) {
    const auto path = TempPath("env");
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", path.string());
    ASSERT_EQ(RunChild("capture"), 0);
    const auto bytes = ReadAll(path);
    ASSERT_GE(bytes.size(), 26u);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "MPLG");
    // The capture starts inside the monitor's construction: the snapshot holds only "General", and the
    // load-time registrations follow as records in their fixed order.
    EXPECT_EQ(U32(bytes, 26), 9u);
    EXPECT_EQ(U16(bytes, 30), 7u);
    EXPECT_EQ(U32(bytes, 46), (1u << 8) | 9u);
    EXPECT_EQ(U32(bytes, 64), 8u);
    EXPECT_EQ(U16(bytes, 68), 5u);
    EXPECT_EQ(bytes[70], 'T');
    EXPECT_TRUE(Contains(bytes, {0x0C, 0x00, 0x00, 0x00, 0x39, 0x30, 0x00, 0x00}));
    EXPECT_TRUE(Contains(bytes, {'c', 0, 'h', 0, 'i', 0, 'l', 0, 'd', 0}));
    std::filesystem::remove(path);
}

TEST(MonitorEnvCapture, NoCaptureWithoutTheLogVariable) {
    set_environment("MARVANE_DEBUGGER", "1");
    set_environment("MARVANE_DEBUG_LOG", "");
    EXPECT_EQ(RunChild("none"), 0);
}

TEST(MonitorEnvCapture, NoCaptureWithoutTheDebuggerVariable) {
    const auto path = TempPath("env-off");
    set_environment("MARVANE_DEBUGGER", "");
    set_environment("MARVANE_DEBUG_LOG", path.string());
    EXPECT_EQ(RunChild("none"), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
