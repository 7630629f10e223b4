// The mplg viewer on logs written by the library: dump, stats and trace (the trace checked by Python's
// json module where Python is at hand), refusal of other files, and logs cut short.
#include "monitor_test_support.h"
#include "process_runner.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>

using namespace monitor_test;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::filesystem::path& path) {
    std::string text;
    for (unsigned char c : ReadAll(path)) {
        if (c != '\r') text += static_cast<char>(c);
    }
    return text;
}

// The viewer's exit status and what it wrote, lines ending in "\n" on every platform.
ToolRun RunTool(const std::vector<std::string>& arguments) {
    const ProcessRun process = run_process(built_program("mplg"), arguments);
    ToolRun run;
    if (!process.started) ADD_FAILURE() << process.start_error;
    run.status = process.exit_code;
    for (const char c : process.out)
        if (c != '\r') run.out += c;
    for (const char c : process.err)
        if (c != '\r') run.err += c;
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool HasLineWith(const std::vector<std::string>& lines, const std::vector<std::string>& parts) {
    for (const std::string& line : lines) {
        bool all = true;
        for (const std::string& part : parts)
            all = all && line.find(part) != std::string::npos;
        if (all) return true;
    }
    return false;
}

class MplgViewer : public ::testing::Test {
  protected:
    // A capture with every record type: 3 frames, counters, nested and cross-thread ranges, a thread.
    void SetUp() override {
        log = TempPath("viewer");
        monitor = std::make_unique<TestMonitor>();
        monitor->UseFakeClock(1000000); // one tick per microsecond
        const StatisticGroupId group = monitor->RegisterGroup(L"Streaming");
        StatisticOptions options;
        options.description = L"tiles \"loaded\"";
        options.unit = L"tiles";
        options.group = group;
        tiles = monitor->RegisterStatistic(L"Tiles", StatisticType::Counter, options);
        options.unit = L"ticks";
        options.defaultMethod = StatisticValueMethod::PerFrame;
        update = monitor->RegisterStatistic(L"Update", StatisticType::Counter, options);
        decode = monitor->RegisterStatistic(L"Decode", StatisticType::Counter, options);
        monitor->RegisterCurrentThread(L"render thread");
        ASSERT_EQ(monitor->StartRecord(log.wstring().c_str()), Error::Ok);
        fakeNow = 0;
        monitor->CounterAdd(tiles, 10); // frame 1: 10 tiles
        monitor->PushRange(update);
        fakeNow = 100;
        monitor->PushRange(decode);
        fakeNow = 150;
        monitor->PopRange();
        fakeNow = 400;
        monitor->PopRange();
        const std::uint64_t handle = monitor->BeginRange(decode);
        fakeNow = 1000;
        monitor->Tick();
        monitor->CounterSub(tiles, 4); // frame 2: 6 tiles
        monitor->EndRange(handle);
        fakeNow = 2000;
        monitor->Tick();
        monitor->CounterSet(tiles, 20); // frame 3: 20 tiles
        monitor->CounterInc(tiles);
        monitor->CounterDec(tiles);
        fakeNow = 3000;
        monitor->Tick();
        ASSERT_EQ(monitor->StopRecord(), Error::Ok);
    }
    void TearDown() override {
        monitor.reset();
        std::error_code ignored;
        std::filesystem::remove(log, ignored);
    }
    std::filesystem::path log;
    std::unique_ptr<TestMonitor> monitor;
    StatisticId tiles, update, decode;
};

TEST_F(MplgViewer, DumpPrintsEveryRecordAsALine) {
    const ToolRun run = RunTool({"dump", utf8_text(log)});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    const auto lines = Lines(run.out);
    // Header line; snapshot: 3 statistics, 2 groups, 1 thread, 1 CounterSet (Tiles); then 14 records.
    ASSERT_EQ(lines.size(), 1u + 7u + 14u);
    EXPECT_EQ(lines[0], "MPLG ticks_per_second=1000000");
    EXPECT_TRUE(HasLineWith(lines, {"StatisticCreate", "name=\"Tiles\"", "unit=\"tiles\"",
                                    "description=\"tiles \\\"loaded\\\"\""}));
    EXPECT_TRUE(HasLineWith(lines, {"ThreadCreate", "name=\"render thread\""}));
    EXPECT_TRUE(HasLineWith(lines, {"CounterAdd id=0 amount=10"}));
    EXPECT_TRUE(HasLineWith(lines, {"PopRange id=2", "time=150"}));
    EXPECT_TRUE(HasLineWith(lines, {"BeginRange id=2 handle=1099511627776 time=400"}));
    EXPECT_TRUE(HasLineWith(lines, {"Tick id=0 time=3000"}));
}

TEST_F(MplgViewer, StatsTabulatesFinalValuesAndPerFrameMeans) {
    const ToolRun run = RunTool({"stats", utf8_text(log)});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    // Tiles is read as a value: the mean of 10, 6 and 20 at the three frame ends.
    EXPECT_TRUE(HasLineWith(lines, {"Streaming", "Tiles", "tiles", " 20 ", " 12"}));
    // Update spans 0..400 in the first frame only: 400 ticks over 3 frames.
    // Six significant digits, not the double's every digit.
    EXPECT_TRUE(HasLineWith(lines, {"Streaming", "Update", "ticks", " 400 ", " 133.333"}));
    EXPECT_FALSE(HasLineWith(lines, {"133.3333"}));
    // Decode: 50 ticks pushed plus 1 for its BeginRange, all in frame 1.
    EXPECT_TRUE(HasLineWith(lines, {"Decode", " 51 ", " 17"}));
    EXPECT_TRUE(HasLineWith(lines, {"3 frames, 3 statistics"}));
}

// Scaled figures: stats prints what a person reads, the trace keeps the double exactly.
TEST(MplgViewerNumbers, StatsRoundsScaledFiguresWhereTheTraceKeepsThemExact) {
    const auto log = TempPath("scaled");
    const auto json = TempPath("scaled-trace");
    {
        TestMonitor monitor;
        monitor.UseFakeClock(1000000);
        StatisticOptions options;
        options.unit = L"s";
        options.scale = 0.000001;
        const StatisticId busy = monitor.RegisterStatistic(L"Busy", StatisticType::Counter, options);
        options.scale = 0.0000001;
        const StatisticId share = monitor.RegisterStatistic(L"Share", StatisticType::Counter, options);
        ASSERT_EQ(monitor.StartRecord(log.wstring().c_str()), Error::Ok);
        monitor.CounterAdd(busy, 494495577);
        monitor.CounterAdd(share, 84226);
        fakeNow = 1000;
        monitor.Tick();
        ASSERT_EQ(monitor.StopRecord(), Error::Ok);
    }
    const ToolRun stats = RunTool({"stats", utf8_text(log)});
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_NE(stats.out.find(" 494.496 "), std::string::npos) << stats.out;
    EXPECT_NE(stats.out.find(" 0.0084226 "), std::string::npos) << stats.out;
    EXPECT_EQ(stats.out.find("494.4955"), std::string::npos) << stats.out;
    EXPECT_EQ(stats.out.find("0.00842259"), std::string::npos) << stats.out;
    const ToolRun trace = RunTool({"trace", utf8_text(log), utf8_text(json)});
    ASSERT_EQ(trace.status, 0) << trace.err;
    const std::string text = ReadText(json);
    EXPECT_NE(text.find("494.49557699999997"), std::string::npos);
    EXPECT_NE(text.find("0.008422599999999999"), std::string::npos);
    std::filesystem::remove(log);
    std::filesystem::remove(json);
}

TEST_F(MplgViewer, TraceIsValidChromeTraceJson) {
    const auto json = TempPath("trace");
    const ToolRun run = RunTool({"trace", utf8_text(log), utf8_text(json)});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string text = ReadText(json);
    EXPECT_NE(text.find("\"traceEvents\""), std::string::npos);
    EXPECT_NE(text.find("\"thread_name\""), std::string::npos);
    EXPECT_NE(text.find("\"Streaming/Update\""), std::string::npos);
#if defined(_WIN32)
    GTEST_SKIP() << "the JSON parser check needs python3, which runs on the Linux side";
#else
    const char* source = std::getenv("PROJECT_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const std::filesystem::path python = program_on_path("python3");
    if (python.empty()) GTEST_SKIP() << "no python3";
    const ProcessRun check = run_process(
        python, {(std::filesystem::path(source) / "tests" / "mvcore" / "mplg_check_trace.py").string(),
                 json.string(), "render thread"});
    EXPECT_EQ(check.exit_code, 0) << check.start_error << check.out << check.err;
#endif
    std::filesystem::remove(json);
}

TEST_F(MplgViewer, RejectsAFileThatIsNotALog) {
    const auto other = TempPath("not-a-log");
    {
        std::ofstream out(other, std::ios::binary);
        out << "RIFF0000WAVEfmt this is something else entirely";
    }
    const ToolRun run = RunTool({"dump", utf8_text(other)});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("not an MPLG"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_NE(RunTool({"stats"}).status, 0);
    EXPECT_NE(RunTool({"frobnicate", utf8_text(log)}).status, 0);
    std::filesystem::remove(other);
}

TEST_F(MplgViewer, ReadsALogCutShortUpToItsLastWholeRecord) {
    auto bytes = ReadAll(log);
    ASSERT_GT(bytes.size(), 5u);
    bytes.resize(bytes.size() - 5); // inside the final Tick record
    const auto cut = TempPath("cut");
    {
        std::ofstream out(cut, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const ToolRun run = RunTool({"dump", utf8_text(cut)});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("warning"), std::string::npos);
    EXPECT_NE(run.err.find("cut short"), std::string::npos);
    const auto lines = Lines(run.out);
    EXPECT_EQ(lines.size(), 1u + 7u + 13u);
    EXPECT_FALSE(HasLineWith(lines, {"Tick id=0 time=3000"}));
    std::filesystem::remove(cut);
}

} // namespace
