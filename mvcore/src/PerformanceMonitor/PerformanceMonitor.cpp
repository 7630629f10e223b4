#include "Marvane/Performance/PerformanceMonitor.h"

#include "PerformanceMonitor/MonitorDiagnostics.h"
#include "PerformanceMonitor/MonitorSystem.h"
#include "PerformanceMonitor/WideText.h"

#include <cstdio>
#include <cwchar>

namespace Marvane::Performance {

using Detail::Lock;

namespace {

// Open ranges of one thread. Pushes past the depth limit are logged but not timed.
struct RangeStack {
    struct Entry {
        std::int64_t start;
        std::uint32_t id;
    };
    Entry entries[PerformanceMonitor::MaxRangeDepth];
    std::uint32_t depth = 0;
};

thread_local RangeStack rangeStack;

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
    : mode(PerformanceCaptureMode::Initial), rangeHandleCounter(FirstRangeHandle - 1), monitor(nullptr),
      fillingBuffer(bufferA), otherBuffer(bufferB), usedBytes(0), capacity(LogBufferSize), logStartTime(0),
      ticksPerSecond(1), lastTickTime(0), framesPerSecond(1.0), timeSource(&Detail::HighResolutionTicks),
      capturing(false), statisticCount(0), groupCount(0), threadCount(0) {
    static_assert(sizeof(lockStorage) >= Detail::LockStorageSize);
    Detail::LockCreate(lockStorage);
    for (Statistic& statistic : statistics)
        ResetStatistic(statistic);
    for (auto& group : groups)
        group[0] = L'\0';
    for (ThreadEntry& thread : threads) {
        thread.name[0] = L'\0';
        thread.threadId = 0;
    }
    unitBuffer[0] = L'\0';
    {
        Lock lock(lockStorage);
        ticksPerSecond = Detail::HighResolutionFrequency();
        lastTickTime = Now();
        framesPerSecond = 1.0;
        fillingBuffer = bufferA;
        otherBuffer = bufferB;
    }
    RegisterGroup(L"General");

    wchar_t variable[4096];
    const std::size_t length = sizeof(variable) / sizeof(variable[0]);
    if (!Detail::ReadEnvironment(L"MARVANE_DEBUGGER", variable, length)) {
        Detail::ReportMonitorProblem(Error::InvalidState, L"Performance env var not found");
        return;
    }
    if (!Detail::ReadEnvironment(L"MARVANE_DEBUG_LOG", variable, length)) {
        Detail::ReportMonitorProblem(Error::InvalidState, L"Log file env var not found");
        return;
    }
    const Error::Enum result = StartLogging(variable);
    if (result != Error::Ok) {
        wchar_t text[4200];
        std::swprintf(text, sizeof(text) / sizeof(text[0]), L"Error writing to performance log '%ls'",
                      variable);
        Detail::ReportMonitorProblem(result, text);
    }
}

PerformanceMonitor::~PerformanceMonitor() {
    Shutdown();
    Detail::LockDestroy(lockStorage);
}

void PerformanceMonitor::Shutdown() {
    Lock lock(lockStorage);
    if (capturing) StopLoggingLocked();
}

void PerformanceMonitor::Enter() {
    Detail::LockEnter(lockStorage);
}
void PerformanceMonitor::Leave() {
    Detail::LockLeave(lockStorage);
}

std::int64_t PerformanceMonitor::Now() const {
    return timeSource();
}

void PerformanceMonitor::SetTimeSource(TimeSource source, std::int64_t newTicksPerSecond) {
    Lock lock(lockStorage);
    timeSource = source != nullptr ? source : &Detail::HighResolutionTicks;
    ticksPerSecond = newTicksPerSecond > 0 ? newTicksPerSecond : Detail::HighResolutionFrequency();
    lastTickTime = Now();
    framesPerSecond = 1.0;
}

Error::Enum PerformanceMonitor::RegisterMonitor(IMonitor* newMonitor) {
    Lock lock(lockStorage);
    monitor = newMonitor;
    return Error::Ok;
}

StatisticGroupId PerformanceMonitor::RegisterGroup(const wchar_t* name) {
    if (name == nullptr) return StatisticGroupId();
    Lock lock(lockStorage);
    for (std::uint32_t i = 0; i < groupCount; ++i) {
        if (StoredNameEquals(groups[i], name)) return StatisticGroupId(i);
    }
    if (groupCount >= MaxGroups) return StatisticGroupId();
    const std::uint32_t id = groupCount;
    Detail::CopyTruncated(groups[id], NameLength, name);
    ++groupCount;
    WriteCreateEvent(MessageType::GroupCreate, id, groups[id]);
    return StatisticGroupId(id);
}

StatisticId PerformanceMonitor::RegisterStatistic(const wchar_t* name, StatisticType::Enum type,
                                                  const StatisticOptions& options) {
    if (name == nullptr) return StatisticId();
    Lock lock(lockStorage);
    for (std::uint32_t i = 0; i < statisticCount; ++i) {
        if (statistics[i].group == options.group && StoredNameEquals(statistics[i].name, name)) {
            return StatisticId(i);
        }
    }
    if (statisticCount >= MaxStatistics) return StatisticId();
    const std::uint32_t id = statisticCount;
    Statistic& statistic = statistics[id];
    Detail::CopyTruncated(statistic.name, NameLength, name);
    statistic.type = type;
    statistic.value = 0;
    statistic.previous = 0;
    statistic.change = 0;
    statistic.description = options.description;
    statistic.unit = options.unit;
    statistic.scale = options.scale;
    statistic.defaultMethod = options.defaultMethod;
    statistic.group = options.group;
    ++statisticCount;
    WriteStatisticCreate(statistic, id);
    return StatisticId(id);
}

void PerformanceMonitor::RegisterCurrentThread(const wchar_t* name) {
    if (name == nullptr) return;
    const std::uint32_t threadId = Detail::CurrentThreadId();
    Lock lock(lockStorage);
    for (std::uint32_t i = 0; i < threadCount; ++i) {
        if (threads[i].threadId == threadId) return;
    }
    if (threadCount < MaxThreads) {
        Detail::CopyTruncated(threads[threadCount].name, NameLength, name);
        threads[threadCount].threadId = threadId;
        ++threadCount;
    }
    WriteCreateEvent(MessageType::ThreadCreate, threadId & 0xFFFFFFu, name);
}

void PerformanceMonitor::LogCounter(MessageType::Enum type, StatisticId id, int amount, bool withAmount) {
    if (!capturing) return;
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
    Lock lock(lockStorage);
    if (!IsValidStatistic(id)) return;
    statistics[id].value += 1;
    LogCounter(MessageType::CounterInc, id, 0, false);
}

void PerformanceMonitor::CounterDec(StatisticId id) {
    Lock lock(lockStorage);
    if (!IsValidStatistic(id)) return;
    statistics[id].value -= 1;
    LogCounter(MessageType::CounterDec, id, 0, false);
}

void PerformanceMonitor::CounterAdd(StatisticId id, int amount) {
    Lock lock(lockStorage);
    if (!IsValidStatistic(id)) return;
    statistics[id].value += static_cast<std::int64_t>(amount);
    LogCounter(MessageType::CounterAdd, id, amount, true);
}

void PerformanceMonitor::CounterSub(StatisticId id, int amount) {
    Lock lock(lockStorage);
    if (!IsValidStatistic(id)) return;
    statistics[id].value -= static_cast<std::int64_t>(amount);
    LogCounter(MessageType::CounterSub, id, amount, true);
}

void PerformanceMonitor::CounterSet(StatisticId id, int amount) {
    Lock lock(lockStorage);
    if (!IsValidStatistic(id)) return;
    statistics[id].value = static_cast<std::int64_t>(amount);
    LogCounter(MessageType::CounterSet, id, amount, true);
}

// Record word, a 32- or 64-bit second field, then the time.
void PerformanceMonitor::LogTimedRecord(MessageType::Enum type, std::uint32_t id, std::uint64_t word2,
                                        bool wide, std::int64_t time) {
    if (!capturing) return;
    unsigned char record[20];
    const std::uint32_t word = (id << 8) | type;
    unsigned used = 0;
    for (int i = 0; i < 4; ++i)
        record[used++] = static_cast<unsigned char>(word >> (8 * i));
    for (int i = 0; i < (wide ? 8 : 4); ++i)
        record[used++] = static_cast<unsigned char>(word2 >> (8 * i));
    const auto relative = static_cast<std::uint64_t>(time - logStartTime);
    for (int i = 0; i < 8; ++i)
        record[used++] = static_cast<unsigned char>(relative >> (8 * i));
    Append(record, used);
}

void PerformanceMonitor::PushRange(StatisticId id) {
    Lock lock(lockStorage);
    RangeStack& stack = rangeStack;
    const bool valid = IsValidStatistic(id);
    if (valid && monitor != nullptr) monitor->OnPushRange(statistics[id]);
    const std::int64_t now = Now();
    if (valid) LogTimedRecord(MessageType::PushRange, id, Detail::CurrentThreadId(), false, now);
    // An invalid identifier still takes a stack entry so that its PopRange pairs with it.
    if (stack.depth < MaxRangeDepth)
        stack.entries[stack.depth++] = {now, valid ? id.id : StatisticId::Invalid};
}

void PerformanceMonitor::PopRange() {
    Lock lock(lockStorage);
    RangeStack& stack = rangeStack;
    if (stack.depth > 0 && !IsValidStatistic(stack.entries[stack.depth - 1].id)) {
        --stack.depth;
        return;
    }
    if (monitor != nullptr) monitor->OnPopRange();
    const std::int64_t now = Now();
    std::uint32_t id = 0;
    if (stack.depth > 0) {
        const RangeStack::Entry entry = stack.entries[--stack.depth];
        id = entry.id;
        // Timed to the same instant the record carries, so that a reader of the log replays the value.
        statistics[id].value += now - entry.start;
    }
    LogTimedRecord(MessageType::PopRange, id, Detail::CurrentThreadId(), false, now);
}

std::uint64_t PerformanceMonitor::BeginRange(StatisticId id) {
    Lock lock(lockStorage);
    if (!IsValidStatistic(id)) return 0;
    statistics[id].value += 1;
    const std::uint64_t handle =
        monitor != nullptr ? monitor->OnBeginRange(statistics[id]) : rangeHandleCounter.fetch_add(1) + 1;
    LogTimedRecord(MessageType::BeginRange, id, handle, true, Now());
    return handle;
}

void PerformanceMonitor::EndRange(std::uint64_t handle) {
    // Handle 0 is what BeginRange gives for an invalid identifier: there is no range to end.
    if (handle == 0) return;
    Lock lock(lockStorage);
    if (monitor != nullptr) monitor->OnEndRange(handle);
    LogTimedRecord(MessageType::EndRange, 0, handle, true, Now());
}

void PerformanceMonitor::Tick() {
    Lock lock(lockStorage);
    const std::int64_t now = Now();
    // Two ticks within one counter step would divide by zero; the last rate stays.
    if (now > lastTickTime) {
        framesPerSecond = static_cast<double>(ticksPerSecond) / static_cast<double>(now - lastTickTime);
    }
    for (std::uint32_t i = 0; i < statisticCount; ++i) {
        Statistic& statistic = statistics[i];
        statistic.change = statistic.value - statistic.previous;
        statistic.previous = statistic.value;
    }
    lastTickTime = now;
    if (!capturing) return;
    unsigned char record[12];
    const std::uint32_t word = MessageType::Tick;
    const auto relative = static_cast<std::uint64_t>(Now() - logStartTime);
    for (int i = 0; i < 4; ++i)
        record[i] = static_cast<unsigned char>(word >> (8 * i));
    for (int i = 0; i < 8; ++i)
        record[4 + i] = static_cast<unsigned char>(relative >> (8 * i));
    Append(record, sizeof(record));
}

unsigned int PerformanceMonitor::GetNumStatistics() {
    Lock lock(lockStorage);
    return statisticCount;
}

bool PerformanceMonitor::FindStatistic(const wchar_t* groupName, const wchar_t* name, unsigned int& id) {
    if (groupName == nullptr || name == nullptr) return false;
    Lock lock(lockStorage);
    for (std::uint32_t i = 0; i < statisticCount; ++i) {
        const std::uint32_t group = statistics[i].group;
        if (group < groupCount && Detail::WideEquals(statistics[i].name, name) &&
            Detail::WideEquals(groups[group], groupName)) {
            id = i;
            return true;
        }
    }
    return false;
}

bool PerformanceMonitor::FindStatistic(const wchar_t* name, unsigned int& id) {
    if (name == nullptr) return false;
    Lock lock(lockStorage);
    for (std::uint32_t i = 0; i < statisticCount; ++i) {
        if (Detail::WideEquals(statistics[i].name, name)) {
            id = i;
            return true;
        }
    }
    return false;
}

double PerformanceMonitor::GetStatisticValue(unsigned int id, StatisticValueMethod::Enum method) {
    Lock lock(lockStorage);
    if (id >= statisticCount) return 0.0;
    const Statistic& statistic = statistics[id];
    if (method == StatisticValueMethod::Default) method = statistic.defaultMethod;
    switch (method) {
    case StatisticValueMethod::Value:
        return static_cast<double>(statistic.value) * statistic.scale;
    case StatisticValueMethod::PerFrame:
        return static_cast<double>(statistic.change) * statistic.scale;
    case StatisticValueMethod::PerSecond:
        return static_cast<double>(statistic.change) * statistic.scale * framesPerSecond;
    default:
        return 0.0;
    }
}

const wchar_t* PerformanceMonitor::GetStatisticName(unsigned int id) {
    Lock lock(lockStorage);
    return id < statisticCount ? statistics[id].name : nullptr;
}

const wchar_t* PerformanceMonitor::GetStatisticUnit(unsigned int id, StatisticValueMethod::Enum method) {
    Lock lock(lockStorage);
    if (id >= statisticCount) return nullptr;
    const Statistic& statistic = statistics[id];
    if (method == StatisticValueMethod::Default) method = statistic.defaultMethod;
    const wchar_t* suffix = nullptr;
    if (method == StatisticValueMethod::PerFrame) suffix = L"/frame";
    if (method == StatisticValueMethod::PerSecond) suffix = L"/s";
    if (suffix == nullptr) return statistic.unit;
    const std::size_t room = sizeof(unitBuffer) / sizeof(unitBuffer[0]);
    Detail::CopyTruncated(unitBuffer, room, statistic.unit != nullptr ? statistic.unit : L"");
    const std::size_t length = std::wcslen(unitBuffer);
    Detail::CopyTruncated(unitBuffer + length, room - length, suffix);
    return unitBuffer;
}

const wchar_t* PerformanceMonitor::GetStatisticDescription(unsigned int id) {
    Lock lock(lockStorage);
    return id < statisticCount ? statistics[id].description : nullptr;
}

bool PerformanceMonitor::IsCapturing() {
    Lock lock(lockStorage);
    return capturing;
}

void PerformanceMonitor::SetMode(PerformanceCaptureMode::Enum newMode) {
    Lock lock(lockStorage);
    mode = newMode;
}

PerformanceCaptureMode::Enum PerformanceMonitor::GetMode() {
    Lock lock(lockStorage);
    return mode;
}

} // namespace Marvane::Performance
