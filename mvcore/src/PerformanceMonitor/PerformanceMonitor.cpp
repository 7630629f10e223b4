#include "Marvane/Performance/PerformanceMonitor.h"

#include "Marvane/Platform/Time.h"
#include "Marvane/String.h"
#include "PerformanceMonitor/DeferredCounters.h"
#include "PerformanceMonitor/MonitorDiagnostics.h"
#include "PerformanceMonitor/ProcessMonitor.h"
#include "Platform/Environment.h"

#include <cstdint>
#include <cwchar>

namespace Marvane::Performance {

using Lock = Platform::ScopedCriticalSection;

namespace {

// Open ranges of one thread. Pushes past the depth limit are logged but not timed.
//
// The stack holds exactly the ranges that the log shows as open, so that a reader replaying the log
// times the same ranges: pushes of an invalid statistic, which are not logged, take no entry and do not
// count towards the limit. Each is remembered as a count at the depth where it came, and a pop at a
// depth with such a count takes one of them (silently, as the push was) instead of a logged range.
struct RangeStack {
    struct Entry {
        std::int64_t start;
        std::uint32_t id;
    };
    Entry entries[PerformanceMonitor::MaxRangeDepth];
    std::uint32_t depth = 0;
    std::uint32_t invalidPushes[PerformanceMonitor::MaxRangeDepth + 1] = {};
};

thread_local RangeStack rangeStack;

// The identifier of the calling thread, asked of the system once per thread: ranges log it on every push
// and pop, and on Linux it costs a system call.
thread_local std::uint32_t cachedThreadId = 0;

std::uint32_t CurrentThreadId() {
    if (cachedThreadId == 0) cachedThreadId = static_cast<std::uint32_t>(Platform::GetThreadId());
    return cachedThreadId;
}

bool Equal(const wchar_t* a, const wchar_t* b) {
    return String::StringCompare(a, b) == 0;
}

// Stored names are cut to 63 characters, so a longer name must match its cut form, or registering the
// same long name twice would create a second entry each time.
bool StoredNameEquals(const wchar_t* stored, const wchar_t* name) {
    unsigned i = 0;
    for (; i + 1 < PerformanceMonitor::NameLength; ++i) {
        if (stored[i] != name[i]) return false;
        if (name[i] == L'\0') return true;
    }
    return stored[i] == L'\0';
}

void ResetStatistic(Statistic& statistic) {
    statistic.name[0] = L'\0';
    statistic.type = StatisticType::Counter;
    statistic.value = 0;
    statistic.previous = 0;
    statistic.change = 0;
    statistic.description = L"";
    statistic.unit = L"";
    statistic.scale = 1.0;
    statistic.defaultMethod = StatisticValueMethod::Value;
    statistic.group = StatisticGroupId(0);
}

} // namespace

PerformanceMonitor::PerformanceMonitor()
    : m_mode(PerformanceCaptureMode::Initial), m_rangeHandleCounter(FirstRangeHandle - 1), m_monitor(nullptr),
      m_fillingBuffer(m_bufferA), m_otherBuffer(m_bufferB), m_usedBytes(0), m_capacity(LogBufferSize),
      m_logStartTime(0), m_ticksPerSecond(1), m_lastTickTime(0), m_framesPerSecond(1.0),
      m_timeSource(&Platform::GetTimeTicks), m_capturing(false), m_statisticCount(0), m_groupCount(0),
      m_threadCount(0), m_foldsDeferredCounters(Detail::IsProcessMonitor(this)) {
    for (Statistic& statistic : m_statistics)
        ResetStatistic(statistic);
    for (auto& group : m_groups)
        group[0] = L'\0';
    for (ThreadEntry& thread : m_threads) {
        thread.name[0] = L'\0';
        thread.threadId = 0;
    }
    m_unitBuffer[0] = L'\0';
    {
        Lock lock(m_lock);
        m_ticksPerSecond = Platform::GetTicksPerSecond();
        m_lastTickTime = Now();
        m_framesPerSecond = 1.0;
        m_fillingBuffer = m_bufferA;
        m_otherBuffer = m_bufferB;
    }
    RegisterGroup(L"General");

    wchar_t variable[4096];
    const std::size_t length = sizeof(variable) / sizeof(variable[0]);
    if (!Platform::Detail::ReadEnvironment(L"MARVANE_DEBUGGER", variable, length)) {
        Detail::ReportMonitorProblem(Error::InvalidState, L"Performance env var not found");
        return;
    }
    if (!Platform::Detail::ReadEnvironment(L"MARVANE_DEBUG_LOG", variable, length)) {
        Detail::ReportMonitorProblem(Error::InvalidState, L"Log file env var not found");
        return;
    }
    const Error::Enum result = StartLogging(variable);
    if (result != Error::Ok)
        Detail::ReportMonitorProblem(result, L"Error writing to performance log '%s'", variable);
}

PerformanceMonitor::~PerformanceMonitor() {
    Shutdown();
}

void PerformanceMonitor::Shutdown() {
    Lock lock(m_lock);
    if (m_capturing) StopLoggingLocked();
}

std::int64_t PerformanceMonitor::Now() const {
    return m_timeSource();
}

void PerformanceMonitor::SetTimeSource(TimeSource source, std::int64_t newTicksPerSecond) {
    Lock lock(m_lock);
    m_timeSource = source != nullptr ? source : &Platform::GetTimeTicks;
    m_ticksPerSecond = newTicksPerSecond > 0 ? newTicksPerSecond : Platform::GetTicksPerSecond();
    m_lastTickTime = Now();
    m_framesPerSecond = 1.0;
}

Error::Enum PerformanceMonitor::RegisterMonitor(IMonitor* newMonitor) {
    Lock lock(m_lock);
    m_monitor = newMonitor;
    return Error::Ok;
}

StatisticGroupId PerformanceMonitor::RegisterGroup(const wchar_t* name) {
    if (name == nullptr) return StatisticGroupId();
    Lock lock(m_lock);
    for (std::uint32_t i = 0; i < m_groupCount; ++i) {
        if (StoredNameEquals(m_groups[i], name)) return StatisticGroupId(i);
    }
    if (m_groupCount >= MaxGroups) return StatisticGroupId();
    const std::uint32_t id = m_groupCount;
    String::CopyStringTruncate(m_groups[id], NameLength, name);
    ++m_groupCount;
    WriteCreateEvent(MessageType::GroupCreate, id, m_groups[id]);
    return StatisticGroupId(id);
}

StatisticId PerformanceMonitor::RegisterStatistic(const wchar_t* name, StatisticType::Enum type,
                                                  const StatisticOptions& options) {
    if (name == nullptr) return StatisticId();
    Lock lock(m_lock);
    for (std::uint32_t i = 0; i < m_statisticCount; ++i) {
        if (m_statistics[i].group == options.group && StoredNameEquals(m_statistics[i].name, name)) {
            return StatisticId(i);
        }
    }
    if (m_statisticCount >= MaxStatistics) return StatisticId();
    const std::uint32_t id = m_statisticCount;
    Statistic& statistic = m_statistics[id];
    String::CopyStringTruncate(statistic.name, NameLength, name);
    statistic.type = type;
    statistic.value = 0;
    statistic.previous = 0;
    statistic.change = 0;
    statistic.description = options.description;
    statistic.unit = options.unit;
    statistic.scale = options.scale;
    statistic.defaultMethod = options.defaultMethod;
    statistic.group = options.group;
    ++m_statisticCount;
    WriteStatisticCreate(statistic, id);
    return StatisticId(id);
}

void PerformanceMonitor::RegisterCurrentThread(const wchar_t* name) {
    if (name == nullptr) return;
    const std::uint32_t threadId = CurrentThreadId();
    Lock lock(m_lock);
    for (std::uint32_t i = 0; i < m_threadCount; ++i) {
        if (m_threads[i].threadId == threadId) return;
    }
    if (m_threadCount < MaxThreads) {
        String::CopyStringTruncate(m_threads[m_threadCount].name, NameLength, name);
        m_threads[m_threadCount].threadId = threadId;
        ++m_threadCount;
    }
    WriteCreateEvent(MessageType::ThreadCreate, threadId & 0xFFFFFFu, name);
}

void PerformanceMonitor::LogCounter(MessageType::Enum type, StatisticId id, int amount, bool withAmount) {
    if (!m_capturing) return;
    unsigned char record[8];
    const std::uint32_t word = (static_cast<std::uint32_t>(id) << 8) | type;
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<unsigned char>(word >> (8 * i));
    const auto bits = static_cast<std::uint32_t>(amount);
    for (int i = 0; i < 4; ++i)
        record[4 + i] = static_cast<unsigned char>(bits >> (8 * i));
    Append(record, withAmount ? 8 : 4);
}

void PerformanceMonitor::CounterInc(StatisticId id) {
    Lock lock(m_lock);
    if (!IsValidStatistic(id)) return;
    m_statistics[id].value += 1;
    LogCounter(MessageType::CounterInc, id, 0, false);
}

void PerformanceMonitor::CounterDec(StatisticId id) {
    Lock lock(m_lock);
    if (!IsValidStatistic(id)) return;
    m_statistics[id].value -= 1;
    LogCounter(MessageType::CounterDec, id, 0, false);
}

void PerformanceMonitor::CounterAdd(StatisticId id, int amount) {
    Lock lock(m_lock);
    if (!IsValidStatistic(id)) return;
    m_statistics[id].value += static_cast<std::int64_t>(amount);
    LogCounter(MessageType::CounterAdd, id, amount, true);
}

void PerformanceMonitor::CounterSub(StatisticId id, int amount) {
    Lock lock(m_lock);
    if (!IsValidStatistic(id)) return;
    m_statistics[id].value -= static_cast<std::int64_t>(amount);
    LogCounter(MessageType::CounterSub, id, amount, true);
}

void PerformanceMonitor::CounterSet(StatisticId id, int amount) {
    Lock lock(m_lock);
    if (!IsValidStatistic(id)) return;
    // Updates made before the set must not land on top of it later.
    FoldDeferredCounters();
    m_statistics[id].value = static_cast<std::int64_t>(amount);
    LogCounter(MessageType::CounterSet, id, amount, true);
}

void PerformanceMonitor::FoldDeferredCounters() {
    if (!m_foldsDeferredCounters) return;
    Detail::DeferredDelta deltas[Detail::DeferredSlots];
    const unsigned count = Detail::CollectDeferred(deltas);
    for (unsigned i = 0; i < count; ++i) {
        for (const std::uint32_t id : deltas[i].statistics) {
            if (!IsValidStatistic(id)) continue;
            m_statistics[id].value += deltas[i].amount;
            // Updates that raced with the start of this capture reach the log here, so that a reader
            // of the log still comes to the monitor's values.
            for (std::int64_t left = deltas[i].amount; left != 0;) {
                const std::int64_t part = left > INT32_MAX ? INT32_MAX : left < INT32_MIN ? INT32_MIN : left;
                LogCounter(MessageType::CounterAdd, StatisticId(id), static_cast<int>(part), true);
                left -= part;
            }
        }
    }
}

void PerformanceMonitor::SetDeferredCountersDirect(bool direct) {
    if (m_foldsDeferredCounters) Detail::deferredCountersDirect.store(direct, std::memory_order_relaxed);
}

// Record word, a 32- or 64-bit second field, then the time.
void PerformanceMonitor::LogTimedRecord(MessageType::Enum type, std::uint32_t id, std::uint64_t word2,
                                        bool wide, std::int64_t time) {
    if (!m_capturing) return;
    unsigned char record[20];
    const std::uint32_t word = (id << 8) | type;
    unsigned used = 0;
    for (int i = 0; i < 4; ++i)
        record[used++] = static_cast<unsigned char>(word >> (8 * i));
    for (int i = 0; i < (wide ? 8 : 4); ++i)
        record[used++] = static_cast<unsigned char>(word2 >> (8 * i));
    const auto relative = static_cast<std::uint64_t>(time - m_logStartTime);
    for (int i = 0; i < 8; ++i)
        record[used++] = static_cast<unsigned char>(relative >> (8 * i));
    Append(record, used);
}

void PerformanceMonitor::PushRange(StatisticId id) {
    Lock lock(m_lock);
    RangeStack& stack = rangeStack;
    const bool valid = IsValidStatistic(id);
    if (valid && m_monitor != nullptr) m_monitor->OnPushRange(m_statistics[id]);
    if (!valid) {
        // Counted so that its PopRange pairs with it; a count that would wrap stays at its limit.
        std::uint32_t& invalid = stack.invalidPushes[stack.depth];
        if (invalid != UINT32_MAX) ++invalid;
        return;
    }
    const std::int64_t now = Now();
    LogTimedRecord(MessageType::PushRange, id, CurrentThreadId(), false, now);
    if (stack.depth < MaxRangeDepth) stack.entries[stack.depth++] = {now, id.id};
}

void PerformanceMonitor::PopRange() {
    Lock lock(m_lock);
    RangeStack& stack = rangeStack;
    if (stack.invalidPushes[stack.depth] > 0) {
        --stack.invalidPushes[stack.depth];
        return;
    }
    if (m_monitor != nullptr) m_monitor->OnPopRange();
    const std::int64_t now = Now();
    std::uint32_t id = 0;
    if (stack.depth > 0) {
        const RangeStack::Entry entry = stack.entries[--stack.depth];
        id = entry.id;
        // Timed to the same instant the record carries, so that a reader of the log replays the value.
        m_statistics[id].value += now - entry.start;
    }
    LogTimedRecord(MessageType::PopRange, id, CurrentThreadId(), false, now);
}

std::uint64_t PerformanceMonitor::BeginRange(StatisticId id) {
    Lock lock(m_lock);
    if (!IsValidStatistic(id)) return InvalidRangeHandle;
    m_statistics[id].value += 1;
    const std::uint64_t handle = m_monitor != nullptr ? m_monitor->OnBeginRange(m_statistics[id])
                                                      : m_rangeHandleCounter.fetch_add(1) + 1;
    LogTimedRecord(MessageType::BeginRange, id, handle, true, Now());
    return handle;
}

void PerformanceMonitor::EndRange(std::uint64_t handle) {
    // What BeginRange gives for an invalid identifier: there is no range to end. Every other handle,
    // 0 included, may have come from an IMonitor.
    if (handle == InvalidRangeHandle) return;
    Lock lock(m_lock);
    if (m_monitor != nullptr) m_monitor->OnEndRange(handle);
    LogTimedRecord(MessageType::EndRange, 0, handle, true, Now());
}

void PerformanceMonitor::Tick() {
    Lock lock(m_lock);
    FoldDeferredCounters();
    const std::int64_t now = Now();
    // Two ticks within one counter step would divide by zero; the last rate stays.
    if (now > m_lastTickTime) {
        m_framesPerSecond = static_cast<double>(m_ticksPerSecond) / static_cast<double>(now - m_lastTickTime);
    }
    for (std::uint32_t i = 0; i < m_statisticCount; ++i) {
        Statistic& statistic = m_statistics[i];
        statistic.change = statistic.value - statistic.previous;
        statistic.previous = statistic.value;
    }
    m_lastTickTime = now;
    if (!m_capturing) return;
    unsigned char record[12];
    const std::uint32_t word = MessageType::Tick;
    const auto relative = static_cast<std::uint64_t>(Now() - m_logStartTime);
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<unsigned char>(word >> (8 * i));
    for (int i = 0; i < 8; ++i)
        record[4 + i] = static_cast<unsigned char>(relative >> (8 * i));
    Append(record, sizeof(record));
}

unsigned int PerformanceMonitor::GetNumStatistics() {
    Lock lock(m_lock);
    return m_statisticCount;
}

bool PerformanceMonitor::FindStatistic(const wchar_t* groupName, const wchar_t* name, unsigned int& id) {
    if (groupName == nullptr || name == nullptr) return false;
    Lock lock(m_lock);
    for (std::uint32_t i = 0; i < m_statisticCount; ++i) {
        const std::uint32_t group = m_statistics[i].group;
        if (group < m_groupCount && Equal(m_statistics[i].name, name) && Equal(m_groups[group], groupName)) {
            id = i;
            return true;
        }
    }
    return false;
}

bool PerformanceMonitor::FindStatistic(const wchar_t* name, unsigned int& id) {
    if (name == nullptr) return false;
    Lock lock(m_lock);
    for (std::uint32_t i = 0; i < m_statisticCount; ++i) {
        if (Equal(m_statistics[i].name, name)) {
            id = i;
            return true;
        }
    }
    return false;
}

double PerformanceMonitor::GetStatisticValue(unsigned int id, StatisticValueMethod::Enum method) {
    Lock lock(m_lock);
    FoldDeferredCounters();
    if (id >= m_statisticCount) return 0.0;
    const Statistic& statistic = m_statistics[id];
    if (method == StatisticValueMethod::Default) method = statistic.defaultMethod;
    switch (method) {
    case StatisticValueMethod::Value:
        return static_cast<double>(statistic.value) * statistic.scale;
    case StatisticValueMethod::PerFrame:
        return static_cast<double>(statistic.change) * statistic.scale;
    case StatisticValueMethod::PerSecond:
        return static_cast<double>(statistic.change) * statistic.scale * m_framesPerSecond;
    default:
        return 0.0;
    }
}

const wchar_t* PerformanceMonitor::GetStatisticName(unsigned int id) {
    Lock lock(m_lock);
    return id < m_statisticCount ? m_statistics[id].name : nullptr;
}

const wchar_t* PerformanceMonitor::GetStatisticUnit(unsigned int id, StatisticValueMethod::Enum method) {
    Lock lock(m_lock);
    if (id >= m_statisticCount) return nullptr;
    const Statistic& statistic = m_statistics[id];
    if (method == StatisticValueMethod::Default) method = statistic.defaultMethod;
    const wchar_t* suffix = nullptr;
    if (method == StatisticValueMethod::PerFrame) suffix = L"/frame";
    if (method == StatisticValueMethod::PerSecond) suffix = L"/s";
    if (suffix == nullptr) return statistic.unit;
    const std::size_t room = sizeof(m_unitBuffer) / sizeof(m_unitBuffer[0]);
    String::CopyStringTruncate(m_unitBuffer, room, statistic.unit != nullptr ? statistic.unit : L"");
    const std::size_t length = std::wcslen(m_unitBuffer);
    String::CopyStringTruncate(m_unitBuffer + length, room - length, suffix);
    return m_unitBuffer;
}

const wchar_t* PerformanceMonitor::GetStatisticDescription(unsigned int id) {
    Lock lock(m_lock);
    return id < m_statisticCount ? m_statistics[id].description : nullptr;
}

bool PerformanceMonitor::IsCapturing() {
    Lock lock(m_lock);
    return m_capturing;
}

void PerformanceMonitor::SetMode(PerformanceCaptureMode::Enum newMode) {
    Lock lock(m_lock);
    m_mode = newMode;
}

PerformanceCaptureMode::Enum PerformanceMonitor::GetMode() {
    Lock lock(m_lock);
    return m_mode;
}

} // namespace Marvane::Performance
