// Capture control and the byte-level writing of the performance log.
#include "Marvane/Performance/PerformanceMonitor.h"

#include "PerformanceMonitor/MonitorSystem.h"
#include "PerformanceMonitor/WideText.h"

#include <bit>
#include <cstring>

namespace Marvane::Performance {

static_assert(std::endian::native == std::endian::little, "the log is written in host byte order");

using Detail::Lock;

Error::Enum PerformanceMonitor::StartRecord(const wchar_t* path) {
    if (path == nullptr) return Error::InvalidParameter;
    return StartLogging(path);
}

Error::Enum PerformanceMonitor::StopRecord() {
    return StopLogging();
}

Error::Enum PerformanceMonitor::StartLogging(const wchar_t* path) {
    Lock lock(lockStorage);
    return StartLoggingLocked(path);
}

Error::Enum PerformanceMonitor::StopLogging() {
    Lock lock(lockStorage);
    return StopLoggingLocked();
}

Error::Enum PerformanceMonitor::StartLoggingLocked(const wchar_t* path) {
    if (path == nullptr) return Error::InvalidParameter;
    // A capture that is running keeps its buffered bytes: only a successful open starts afresh.
    const Error::Enum opened = writer.Open(path);
    if (opened != Error::Ok) return opened;
    usedBytes = 0;
    capturing = true;

    Write(LogHeaderWord);
    Write(LogMagic, sizeof(LogMagic));
    Write64(static_cast<std::uint64_t>(ticksPerSecond));
    Write(L"TODO");
    logStartTime = Now();

    for (std::uint32_t i = 0; i < statisticCount; ++i)
        WriteStatisticCreate(statistics[i], i);
    for (std::uint32_t i = 0; i < groupCount; ++i)
        WriteCreateEvent(MessageType::GroupCreate, i, groups[i]);
    for (std::uint32_t i = 0; i < threadCount; ++i) {
        WriteCreateEvent(MessageType::ThreadCreate, threads[i].threadId & 0xFFFFFFu, threads[i].name);
    }
    // A reader starts from absolute values of the quantities that are set rather than counted.
    for (std::uint32_t i = 0; i < statisticCount; ++i) {
        const Statistic& statistic = statistics[i];
        if (statistic.type == StatisticType::Counter &&
            statistic.defaultMethod == StatisticValueMethod::Value) {
            WriteHeader(MessageType::CounterSet, StatisticId(i));
            Write(static_cast<unsigned int>(static_cast<std::uint64_t>(statistic.value) & 0xFFFFFFFFu));
        }
    }
    return Error::Ok;
}

Error::Enum PerformanceMonitor::StopLoggingLocked() {
    if (!capturing) return Error::InvalidState;
    if (!writer.HasFailed() && usedBytes > 0) Flush();
    writer.Wait();
    capturing = false;
    usedBytes = 0;
    return writer.Close();
}

void PerformanceMonitor::Flush() {
    // An empty buffer is not handed over: the writer would not wait for the write still running from the
    // other buffer, and the swap would make that buffer the filling one while the disk still reads it.
    if (usedBytes == 0) return;
    unsigned char* const full = fillingBuffer;
    const std::uint64_t size = usedBytes;
    fillingBuffer = otherBuffer;
    otherBuffer = full;
    usedBytes = 0;
    writer.Write(full, size);
}

void PerformanceMonitor::Write(const void* data, std::uint64_t size) {
    Lock lock(lockStorage);
    Append(data, size);
}

void PerformanceMonitor::Append(const void* data, std::uint64_t size) {
    if (!capturing) return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (usedBytes + size <= capacity) {
        std::memcpy(fillingBuffer + usedBytes, bytes, size);
        usedBytes += size;
        return;
    }
    while (size > 0 && capturing) {
        if (usedBytes >= capacity) {
            Flush();
            continue;
        }
        const std::uint64_t free = capacity - usedBytes;
        const std::uint64_t part = size < free ? size : free;
        std::memcpy(fillingBuffer + usedBytes, bytes, part);
        usedBytes += part;
        bytes += part;
        size -= part;
    }
}

void PerformanceMonitor::Write(unsigned int value) {
    const auto word = static_cast<std::uint32_t>(value);
    Write(&word, sizeof(word));
}

void PerformanceMonitor::Write64(std::uint64_t value) {
    Write(&value, sizeof(value));
}

void PerformanceMonitor::WriteDouble(double value) {
    Write(&value, sizeof(value));
}

void PerformanceMonitor::Write(const wchar_t* text) {
    if (!capturing) return;
    if (text == nullptr) text = L"";
    // Count first: the length goes in front, capped without splitting a surrogate pair.
    std::uint32_t units = 0;
    std::size_t characters = 0;
    for (; text[characters] != L'\0'; ++characters) {
        const unsigned next = Detail::Utf16UnitsOf(text[characters]);
        if (units + next > LogStringMaxUnits) break;
        units += next;
    }
    const auto count = static_cast<std::uint16_t>(units);
    Write(&count, sizeof(count));
    std::uint16_t chunk[256];
    unsigned filled = 0;
    for (std::size_t i = 0; i < characters; ++i) {
        if (filled + 2 > sizeof(chunk) / sizeof(chunk[0])) {
            Write(chunk, filled * sizeof(chunk[0]));
            filled = 0;
        }
        filled += Detail::EncodeUtf16(text[i], chunk + filled);
    }
    if (filled > 0) Write(chunk, filled * sizeof(chunk[0]));
}

void PerformanceMonitor::Write(PayloadType::Enum type) {
    const auto byte = static_cast<std::uint8_t>(type);
    Write(&byte, 1);
}

void PerformanceMonitor::WriteHeader(MessageType::Enum type, StatisticId id) {
    Write(static_cast<unsigned int>((static_cast<std::uint32_t>(id) << 8) | (type & 0xFFu)));
}

void PerformanceMonitor::WriteTime(std::uint64_t ticks) {
    Write64(static_cast<std::uint64_t>(static_cast<std::int64_t>(ticks) - logStartTime));
}

void PerformanceMonitor::WritePayload(const int& value) {
    Write(PayloadType::Integer);
    Write(static_cast<unsigned int>(value));
}

void PerformanceMonitor::WritePayload(const unsigned int& value) {
    Write(PayloadType::Integer);
    Write(value);
}

void PerformanceMonitor::WritePayload(const NoPayload&) {
    Write(PayloadType::None);
}

void PerformanceMonitor::WritePayload(const wchar_t* text) {
    Write(PayloadType::String);
    Write(text);
}

void PerformanceMonitor::WriteCreateEvent(MessageType::Enum type, unsigned int id, const wchar_t* name) {
    if (!capturing) return;
    WriteHeader(type, StatisticId(id));
    Write(name);
}

void PerformanceMonitor::WriteStatisticCreate(Statistic& statistic, unsigned int id) {
    if (!capturing) return;
    WriteHeader(MessageType::StatisticCreate, StatisticId(id));
    Write(statistic.name);
    Write(static_cast<unsigned int>(statistic.type));
    Write(statistic.description);
    Write(statistic.unit);
    WriteDouble(statistic.scale);
    Write(static_cast<unsigned int>(statistic.defaultMethod));
    Write(static_cast<unsigned int>(statistic.group));
}

} // namespace Marvane::Performance
