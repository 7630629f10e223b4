// GPU memory statistics read through a stand-in for NVIDIA's driver library (fake_gpu_driver/): NVML
// on Linux, NVAPI under Windows. The fake's first GPU has 8,388,608 KiB of dedicated memory.
#include "Marvane/Graphics/GraphicsDriver.h"
#include "monitor_test_support.h"
#include "process_runner.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

using namespace monitor_test;

namespace {

std::filesystem::path ProgramDirectory() {
    return this_program().parent_path();
}

void UseFakeDriver(int gpus, bool failSecond = false) {
#if defined(_WIN32)
    const char* name = "nvapi64.dll";
#else
    const char* name = "libnvidia-ml.so.1";
#endif
    set_environment("MARVANE_GPU_DRIVER_LIBRARY", (ProgramDirectory() / "fake-gpu" / name).string());
    set_environment("FAKE_GPU_COUNT", std::to_string(gpus));
    set_environment("FAKE_GPU_FAIL_SECOND", failSecond ? "1" : "0");
}

const wchar_t* const figureNames[8] = {
    L"DedicatedVideoMemory",
    L"AvailableDedicatedVideoMemory",
    L"CurrentAvailableDedicatedVideoMemory",
    L"SharedSystemMemory",
    L"SystemVideoMemory",
    L"DedicatedVideoMemory1",
    L"AvailableDedicatedVideoMemory1",
    L"CurrentAvailableDedicatedVideoMemory1",
};

double Figure(int index) {
    unsigned int id = 0;
    PerformanceMonitor* monitor = GetPerformanceMonitor();
    EXPECT_TRUE(monitor->FindStatistic(figureNames[index], id));
    return monitor->GetStatisticValue(id, StatisticValueMethod::Default);
}

// Each test starts from zero figures and a capture of its own.
class GpuMemory : public ::testing::Test {
  protected:
    void SetUp() override {
        for (unsigned id = 1; id <= 8; ++id)
            GetPerformanceMonitor()->CounterSet(id, 0);
        path = TempPath("gpu");
    }
    void StartCapture() {
        ASSERT_EQ(GetPerformanceMonitor()->StartRecord(path.wstring().c_str()), Error::Ok);
    }
    void TearDown() override {
        GetPerformanceMonitor()->StopRecord();
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    std::filesystem::path path;
};

// First in this file: once a fake has been loaded the process keeps it.
TEST_F(GpuMemory, WithoutADriverEveryFigureStaysZero) {
    set_environment("MARVANE_GPU_DRIVER_LIBRARY",
                    (ProgramDirectory() / "fake-gpu" / "no-such-driver").string());
    WindowsGraphicsDriver driver;
    driver.Initialize();
    StartCapture();
    driver.Tick();
    driver.Tick();
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Figure(i), 0.0) << i;
}

TEST_F(GpuMemory, OneGpuPublishesItsFiguresInMegabytes) {
    UseFakeDriver(1);
    WindowsGraphicsDriver driver;
    driver.Initialize();
    StartCapture();
    driver.Tick();
    EXPECT_EQ(Figure(0), 8192.0);
#if defined(_WIN32)
    EXPECT_EQ(Figure(1), 8300000.0 / 1024.0);
    EXPECT_EQ(Figure(3), 4096.0);
    EXPECT_EQ(Figure(4), 64.0);
#else
    // NVML has no counterpart of these NVAPI figures.
    EXPECT_EQ(Figure(1), 0.0);
    EXPECT_EQ(Figure(3), 0.0);
    EXPECT_EQ(Figure(4), 0.0);
#endif
    const double current = Figure(2);
    EXPECT_GT(current, 0.0);
    for (int i = 5; i < 8; ++i)
        EXPECT_EQ(Figure(i), 0.0) << i;
    // Later ticks set only the currently available memory, which the fake lowers by 1 MiB per query.
    GetPerformanceMonitor()->CounterSet(1, 0);
    driver.Tick();
    EXPECT_EQ(Figure(0), 0.0);
    EXPECT_EQ(Figure(2), current - 1.0);
}

TEST_F(GpuMemory, TicksWhileNotCapturingKeepTheFirstTickPending) {
    UseFakeDriver(1);
    WindowsGraphicsDriver driver;
    driver.Initialize();
    driver.Tick();
    driver.Tick();
    EXPECT_EQ(Figure(0), 0.0);
    EXPECT_EQ(Figure(2), 0.0);
    StartCapture();
    driver.Tick();
    EXPECT_EQ(Figure(0), 8192.0);
}

TEST_F(GpuMemory, TwoGpusFillBothGroups) {
    UseFakeDriver(2);
    WindowsGraphicsDriver driver;
    driver.Initialize();
    StartCapture();
    driver.Tick();
    EXPECT_EQ(Figure(0), 8192.0);
    EXPECT_EQ(Figure(5), 4096.0);
    const double second = Figure(7);
    EXPECT_GT(second, 0.0);
    driver.Tick();
    EXPECT_EQ(Figure(7), second - 2.0);
}

TEST_F(GpuMemory, AFailingQuerySkipsOnlyThatGpu) {
    UseFakeDriver(2, true);
    WindowsGraphicsDriver driver;
    driver.Initialize();
    StartCapture();
    driver.Tick();
    EXPECT_EQ(Figure(0), 8192.0);
    EXPECT_EQ(Figure(5), 0.0);
    EXPECT_EQ(Figure(7), 0.0);
}

TEST_F(GpuMemory, TheFiguresReachTheLogAsCounterSetRecords) {
    UseFakeDriver(1);
    WindowsGraphicsDriver driver;
    driver.Initialize();
    StartCapture();
    driver.Tick();
    ASSERT_EQ(GetPerformanceMonitor()->StopRecord(), Error::Ok);
    const auto bytes = ReadAll(path);
    // CounterSet of statistic 1 (DedicatedVideoMemory) with 8,388,608 KiB, after the snapshot's own.
    const std::vector<unsigned char> record = {0x0E, 0x01, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), record.begin(), record.end()), bytes.end());
}

} // namespace
