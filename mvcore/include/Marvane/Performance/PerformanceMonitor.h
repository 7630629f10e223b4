#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"
#include "Marvane/Performance/IMonitor.h"
#include "Marvane/Performance/LogRecords.h"
#include "Marvane/Performance/Statistic.h"
#include "Marvane/Platform/AsyncWriter.h"
#include "Marvane/Platform/CriticalSection.h"

#include <atomic>
#include <cstdint>

namespace Marvane::Performance {

class MARVANE_API IPerformanceManager {
  public:
    virtual Error::Enum RegisterMonitor(IMonitor* monitor) = 0;
    virtual Error::Enum StartRecord(const wchar_t* path) = 0;
    virtual Error::Enum StopRecord() = 0;
    virtual unsigned int GetNumStatistics() = 0;
    virtual bool FindStatistic(const wchar_t* groupName, const wchar_t* name, unsigned int& id) = 0;
    virtual bool FindStatistic(const wchar_t* name, unsigned int& id) = 0;
    virtual double GetStatisticValue(unsigned int id, StatisticValueMethod::Enum method) = 0;
    virtual const wchar_t* GetStatisticName(unsigned int id) = 0;
    virtual const wchar_t* GetStatisticUnit(unsigned int id, StatisticValueMethod::Enum method) = 0;
    virtual const wchar_t* GetStatisticDescription(unsigned int id) = 0;
    virtual bool IsCapturing() = 0;
    virtual void SetMode(PerformanceCaptureMode::Enum mode) = 0;
    virtual PerformanceCaptureMode::Enum GetMode() = 0;
    virtual ~IPerformanceManager() = default;
};

// Registry of named statistics and producer of the binary performance log. Fixed tables, no allocation;
// one re-entrant lock serialises every operation, and every registration and update is appended to the
// log while a capture runs. The process-wide monitor also takes the memory statistics' updates that
// threads count on their own while no log is captured, folding them in before every query, Tick,
// CounterSet and capture start.
class MARVANE_API PerformanceMonitor : public IPerformanceManager {
  public:
    // Enumerators rather than static data members: a DLL-imported class would otherwise have clients
    // look for the members in the DLL.
    enum : unsigned {
        MaxStatistics = 1024,
        MaxGroups = 256,
        MaxThreads = 256,
        NameLength = 64,
        LogBufferSize = 16384,
        MaxRangeDepth = 64,
    };
    // Handles of BeginRange without an IMonitor count up from FirstRangeHandle. InvalidRangeHandle is
    // what BeginRange returns for an identifier it ignores, and the one handle EndRange ignores: every
    // other handle, 0 included (an IMonitor may number its ranges from 0), is passed on and logged.
    enum : std::uint64_t { FirstRangeHandle = 0x10000000000ull, InvalidRangeHandle = ~0ull };

    // Reads MARVANE_DEBUGGER and MARVANE_DEBUG_LOG and may start capturing at once.
    PerformanceMonitor();
    ~PerformanceMonitor() override;
    PerformanceMonitor(const PerformanceMonitor&) = delete;
    PerformanceMonitor& operator=(const PerformanceMonitor&) = delete;

    Error::Enum RegisterMonitor(IMonitor* monitor) override;
    Error::Enum StartRecord(const wchar_t* path) override;
    Error::Enum StopRecord() override;
    unsigned int GetNumStatistics() override;
    bool FindStatistic(const wchar_t* groupName, const wchar_t* name, unsigned int& id) override;
    bool FindStatistic(const wchar_t* name, unsigned int& id) override;
    double GetStatisticValue(unsigned int id, StatisticValueMethod::Enum method) override;
    const wchar_t* GetStatisticName(unsigned int id) override;
    const wchar_t* GetStatisticUnit(unsigned int id, StatisticValueMethod::Enum method) override;
    const wchar_t* GetStatisticDescription(unsigned int id) override;
    bool IsCapturing() override;
    void SetMode(PerformanceCaptureMode::Enum mode) override;
    PerformanceCaptureMode::Enum GetMode() override;

    StatisticGroupId RegisterGroup(const wchar_t* name);
    StatisticId RegisterStatistic(const wchar_t* name, StatisticType::Enum type,
                                  const StatisticOptions& options);
    void RegisterCurrentThread(const wchar_t* name);

    void CounterInc(StatisticId id);
    void CounterDec(StatisticId id);
    void CounterAdd(StatisticId id, int amount);
    void CounterSub(StatisticId id, int amount);
    void CounterSet(StatisticId id, int amount);

    void PushRange(StatisticId id);
    void PopRange();
    std::uint64_t BeginRange(StatisticId id);
    void EndRange(std::uint64_t handle);
    void Tick();

    Error::Enum StartLogging(const wchar_t* path);
    Error::Enum StopLogging();

    // Stops a capture still running and leaves the monitor inert but callable: library code that runs
    // late during process exit (releases, counters) must not touch a destroyed object.
    void Shutdown();

  protected:
    using TimeSource = std::int64_t (*)();

    void Flush();
    void Write(const void* data, std::uint64_t size);
    void Write(unsigned int value);
    void Write64(std::uint64_t value);
    void WriteDouble(double value);
    void Write(const wchar_t* text);
    void Write(PayloadType::Enum type);
    void WriteHeader(MessageType::Enum type, StatisticId id);
    void WriteTime(std::uint64_t ticks);
    void WritePayload(const int& value);
    void WritePayload(const unsigned int& value);
    void WritePayload(const NoPayload& value);
    void WritePayload(const wchar_t* text);
    void WriteCreateEvent(MessageType::Enum type, unsigned int id, const wchar_t* name);
    void WriteStatisticCreate(Statistic& statistic, unsigned int id);

    // Replaces the high-resolution counter (tests drive time by hand). Resets the frame clock.
    void SetTimeSource(TimeSource source, std::int64_t ticksPerSecond);

  private:
    struct ThreadEntry {
        wchar_t name[NameLength];
        std::uint32_t threadId;
    };

    std::int64_t Now() const;
    bool IsValidStatistic(std::uint32_t id) const { return id < m_statisticCount; }
    // Appends without taking the lock; the protected Write takes it so client records stay whole bytes.
    void Append(const void* data, std::uint64_t size);
    void LogCounter(MessageType::Enum type, StatisticId id, int amount, bool withAmount);
    void LogTimedRecord(MessageType::Enum type, std::uint32_t id, std::uint64_t word2, bool wide,
                        std::int64_t time);
    Error::Enum StartLoggingLocked(const wchar_t* path);
    Error::Enum StopLoggingLocked();
    // The process-wide monitor receives the memory statistics' updates that threads kept to themselves
    // while no log was captured; it folds them in (under the lock) before anything reads a value.
    void FoldDeferredCounters();
    void SetDeferredCountersDirect(bool direct);

    PerformanceCaptureMode::Enum m_mode;
    Platform::CriticalSection m_lock;
    std::atomic<std::uint64_t> m_rangeHandleCounter;
    IMonitor* m_monitor;
    AsyncWriter m_writer;
    unsigned char m_bufferA[LogBufferSize];
    unsigned char m_bufferB[LogBufferSize];
    unsigned char* m_fillingBuffer;
    unsigned char* m_otherBuffer;
    std::uint64_t m_usedBytes;
    std::uint64_t m_capacity;
    std::int64_t m_logStartTime;
    std::int64_t m_ticksPerSecond;
    std::int64_t m_lastTickTime;
    double m_framesPerSecond;
    TimeSource m_timeSource;
    bool m_capturing;
    Statistic m_statistics[MaxStatistics];
    std::uint32_t m_statisticCount;
    wchar_t m_groups[MaxGroups][NameLength];
    std::uint32_t m_groupCount;
    ThreadEntry m_threads[MaxThreads];
    std::uint32_t m_threadCount;
    wchar_t m_unitBuffer[256];
    bool m_foldsDeferredCounters;
};

// The process-wide monitor, created while the library loads and stopped at process exit.
MARVANE_API PerformanceMonitor* GetPerformanceMonitor();
MARVANE_API IPerformanceManager* GetPerformanceManager();

} // namespace Marvane::Performance
