// The log reader behind mplg, in-process: a log cut at every possible length is read up to its last
// whole record (with a warning exactly when the cut falls inside a record), and every command copes with
// what was read.
#include "commands.h"
#include "log_reader.h"
#include "monitor_test_support.h"
#include "replay.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

using namespace monitor_test;

namespace {

std::vector<unsigned char> WriteSampleLog(const std::filesystem::path& path) {
    auto monitor = std::make_unique<TestMonitor>();
    monitor->UseFakeClock(1000);
    StatisticOptions options;
    options.description = L"d\u00e9j\u00e0 vu";
    options.unit = L"u";
    const StatisticId a = monitor->RegisterStatistic(L"a", StatisticType::Counter, options);
    monitor->RegisterCurrentThread(L"t");
    EXPECT_EQ(monitor->StartRecord(path.wstring().c_str()), Error::Ok);
    monitor->CounterAdd(a, 2);
    monitor->PushRange(a);
    fakeNow = 5;
    monitor->PopRange();
    monitor->EndRange(monitor->BeginRange(a));
    monitor->Tick();
    monitor->RegisterGroup(L"late group");
    EXPECT_EQ(monitor->StopRecord(), Error::Ok);
    return ReadAll(path);
}

void WriteBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes,
                std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
}

TEST(MplgReader, ReadsEveryRecordOfAWholeLog) {
    const auto path = TempPath("reader");
    const auto bytes = WriteSampleLog(path);
    mplg::Log log;
    std::string error;
    ASSERT_TRUE(mplg::ReadLog(path.string(), log, error)) << error;
    EXPECT_TRUE(log.warning.empty());
    EXPECT_EQ(log.ticksPerSecond, 1000);
    EXPECT_EQ(log.wholeRecordsEnd, bytes.size());
    ASSERT_FALSE(log.records.empty());
    EXPECT_EQ(log.records.front().type, mplg::StatisticCreate);
    EXPECT_EQ(log.records.front().description, "d\xc3\xa9j\xc3\xa0 vu");
    EXPECT_EQ(log.records.back().type, mplg::GroupCreate);
    EXPECT_EQ(log.records.back().name, "late group");
    std::filesystem::remove(path);
}

TEST(MplgReader, ACutAtAnyLengthKeepsTheWholeRecordsBeforeIt) {
    const auto path = TempPath("reader-full");
    const auto bytes = WriteSampleLog(path);
    mplg::Log whole;
    std::string error;
    ASSERT_TRUE(mplg::ReadLog(path.string(), whole, error));
    std::vector<std::size_t> boundaries = {whole.records.front().offset};
    for (std::size_t i = 1; i < whole.records.size(); ++i)
        boundaries.push_back(whole.records[i].offset);
    boundaries.push_back(bytes.size());

    const auto cut = TempPath("reader-cut");
    for (std::size_t size = 0; size <= bytes.size(); ++size) {
        WriteBytes(cut, bytes, size);
        mplg::Log log;
        const bool read = mplg::ReadLog(cut.string(), log, error);
        if (size < boundaries.front()) {
            // Inside the file header: not a readable log.
            EXPECT_FALSE(read) << size;
            continue;
        }
        ASSERT_TRUE(read) << size << ": " << error;
        std::size_t whole_records = 0;
        while (whole_records + 1 < boundaries.size() && boundaries[whole_records + 1] <= size)
            ++whole_records;
        EXPECT_EQ(log.records.size(), whole_records) << size;
        EXPECT_EQ(log.wholeRecordsEnd, boundaries[whole_records]) << size;
        EXPECT_EQ(log.warning.empty(), size == boundaries[whole_records]) << size;
        std::ostringstream sink;
        mplg::Dump(log, sink);
        mplg::Stats(log, sink);
        mplg::Trace(log, sink);
    }
    std::filesystem::remove(cut);
    std::filesystem::remove(path);
}

TEST(MplgReader, AnUnknownRecordTypeStopsReadingWithAWarning) {
    const auto path = TempPath("reader-unknown");
    auto bytes = WriteSampleLog(path);
    const std::size_t end = bytes.size();
    bytes.insert(bytes.end(), {0x02, 0x05, 0x00, 0x00, 0x00}); // a client record type the reader cannot size
    WriteBytes(path, bytes, bytes.size());
    mplg::Log log;
    std::string error;
    ASSERT_TRUE(mplg::ReadLog(path.string(), log, error));
    EXPECT_EQ(log.wholeRecordsEnd, end);
    EXPECT_NE(log.warning.find("unknown record type 2"), std::string::npos) << log.warning;
    std::filesystem::remove(path);
}

} // namespace

namespace {

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

} // namespace

// Ranges nested deeper than the monitor's 64-entry stack: the monitor logs the pushes beyond it without
// timing them, and their pops close the ranges below. Pushes of an invalid statistic are not logged, so
// they must not change which ranges the monitor times either. The viewer must come to the same totals,
// and its trace must pair every begin with an end.
TEST(MplgReplay, RangesBeyondTheMonitorsStackAddUpAsInTheMonitor) {
    struct Case {
        const char* name;
        int deep;       // valid pushes above the outer one
        int invalidAt;  // the invalid push comes after this many deep ones; -1: none
        int over;       // valid pushes after those
        unsigned timed; // ranges the trace shows
    };
    const Case cases[] = {
        {"63 deep, 3 beyond the stack", 63, -1, 3, 64},
        {"invalid push at depth 63, 3 beyond", 62, 62, 3, 64},
        {"invalid push at the bottom, 3 beyond", 63, 0, 3, 64},
        {"invalid push in the middle, just full", 62, 30, 1, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = TempPath("deep-ranges");
        auto monitor = std::make_unique<TestMonitor>();
        monitor->UseFakeClock(1000);
        StatisticOptions options;
        const StatisticId outer = monitor->RegisterStatistic(L"outer", StatisticType::Counter, options);
        const StatisticId deep = monitor->RegisterStatistic(L"deep", StatisticType::Counter, options);
        const StatisticId over = monitor->RegisterStatistic(L"over", StatisticType::Counter, options);
        ASSERT_EQ(monitor->StartRecord(path.wstring().c_str()), Error::Ok);
        fakeNow = 0;
        monitor->PushRange(outer);
        int pushes = 1;
        for (int i = 0; i < c.deep; ++i) {
            if (i == c.invalidAt) {
                monitor->PushRange(StatisticId());
                ++pushes;
            }
            fakeNow = ++pushes * 7;
            monitor->PushRange(deep);
        }
        for (int i = 0; i < c.over; ++i) {
            fakeNow = 1000 + ++pushes * 7;
            monitor->PushRange(over);
        }
        for (int i = 0; i < pushes; ++i) {
            fakeNow = 10000 + 100 * i + i * i;
            monitor->PopRange();
        }
        ASSERT_EQ(monitor->StopRecord(), Error::Ok);

        mplg::Log log;
        std::string error;
        ASSERT_TRUE(mplg::ReadLog(path.string(), log, error)) << error;
        mplg::Replay replay;
        for (const mplg::Record& record : log.records)
            replay.Apply(record);
        for (const StatisticId id : {outer, deep, over}) {
            EXPECT_EQ(static_cast<double>(replay.Statistic(id).value),
                      monitor->GetStatisticValue(id, StatisticValueMethod::Value))
                << replay.Statistic(id).name;
        }

        std::ostringstream trace;
        mplg::Trace(log, trace);
        EXPECT_EQ(Occurrences(trace.str(), "\"ph\":\"B\""), c.timed);
        EXPECT_EQ(Occurrences(trace.str(), "\"ph\":\"E\""), c.timed);
        std::filesystem::remove(path);
    }
}
