// Capture control and the byte-level writing of the performance log.
#include "Marvane/Performance/PerformanceMonitor.h"

#include "Platform/ProcessBarrier.h"

#include <bit>
#include <cstring>

namespace Marvane::Performance {

static_assert(std::endian::native == std::endian::little, "the log is written in host byte order");

using Lock = Platform::ScopedCriticalSection;

namespace {

// Log strings are UTF-16; wchar_t has 16 bits on Windows and holds whole code points elsewhere.
unsigned Utf16UnitsOf(wchar_t c) {
    if constexpr (sizeof(wchar_t) == 2) return 1;
    const auto code = static_cast<std::uint32_t>(c);
    return code > 0xFFFF && code <= 0x10FFFF ? 2 : 1;
}

// Writes the UTF-16 units of c into out (room for 2); returns how many. Beyond U+10FFFF: U+FFFD.
unsigned EncodeUtf16(wchar_t c, std::uint16_t* out) {
    auto code = static_cast<std::uint32_t>(c);
    if (sizeof(wchar_t) == 2 || code <= 0xFFFF) {
        out[0] = static_cast<std::uint16_t>(code);
        return 1;
    }
    if (code > 0x10FFFF) {
        out[0] = 0xFFFD;
        return 1;
    }
    code -= 0x10000;
    out[0] = static_cast<std::uint16_t>(0xD800 + (code >> 10));
    out[1] = static_cast<std::uint16_t>(0xDC00 + (code & 0x3FF));
    return 2;
}

} // namespace

Error::Enum PerformanceMonitor::StartRecord(const wchar_t* path) {
    if (path == nullptr) return Error::InvalidParameter;
    return StartLogging(path);
}

Error::Enum PerformanceMonitor::StopRecord() {
    return StopLogging();
}

Error::Enum PerformanceMonitor::StartLogging(const wchar_t* path) {
    Lock lock(m_lock);
    return StartLoggingLocked(path);
}

Error::Enum PerformanceMonitor::StopLogging() {
    Lock lock(m_lock);
    return StopLoggingLocked();
}

Error::Enum PerformanceMonitor::StartLoggingLocked(const wchar_t* path) {
    if (path == nullptr) return Error::InvalidParameter;
    // A capture that is running keeps its buffered bytes: only a successful open starts afresh.
    const Error::Enum opened = m_writer.Open(path);
    if (opened != Error::Ok) return opened;
    // From here on updates come through the monitor, each as its own record; what threads kept to
    // themselves until now goes into the values that the snapshot below writes. The barrier makes every
    // amount added before a thread could see the flag visible to this fold; a thread whose amount comes
    // later sees the flag and has it folded and logged before it goes on.
    SetDeferredCountersDirect(true);
    if (m_foldsDeferredCounters) Platform::Detail::ProcessWideBarrier();
    FoldDeferredCounters();
    m_usedBytes = 0;
    m_capturing = true;

    Write(LogHeaderWord);
    Write(LogMagic, sizeof(LogMagic));
    Write64(static_cast<std::uint64_t>(m_ticksPerSecond));
    Write(L"TODO");
    m_logStartTime = Now();

    for (std::uint32_t i = 0; i < m_statisticCount; ++i)
        WriteStatisticCreate(m_statistics[i], i);
    for (std::uint32_t i = 0; i < m_groupCount; ++i)
        WriteCreateEvent(MessageType::GroupCreate, i, m_groups[i]);
    for (std::uint32_t i = 0; i < m_threadCount; ++i) {
        WriteCreateEvent(MessageType::ThreadCreate, m_threads[i].threadId & 0xFFFFFFu, m_threads[i].name);
    }
    // A reader starts from absolute values of the quantities that are set rather than counted.
    for (std::uint32_t i = 0; i < m_statisticCount; ++i) {
        const Statistic& statistic = m_statistics[i];
        if (statistic.type == StatisticType::Counter &&
            statistic.defaultMethod == StatisticValueMethod::Value) {
            WriteHeader(MessageType::CounterSet, StatisticId(i));
            Write(static_cast<unsigned int>(static_cast<std::uint64_t>(statistic.value) & 0xFFFFFFFFu));
        }
    }
    return Error::Ok;
}

Error::Enum PerformanceMonitor::StopLoggingLocked() {
    if (!m_capturing) return Error::InvalidState;
    // Updates that raced with the start of the capture still get their records.
    FoldDeferredCounters();
    if (!m_writer.HasFailed() && m_usedBytes > 0) Flush();
    m_writer.Wait();
    m_capturing = false;
    m_usedBytes = 0;
    SetDeferredCountersDirect(false);
    return m_writer.Close();
}

void PerformanceMonitor::Flush() {
    // An empty buffer is not handed over: the writer would not wait for the write still running from the
    // other buffer, and the swap would make that buffer the filling one while the disk still reads it.
    if (m_usedBytes == 0) return;
    unsigned char* const full = m_fillingBuffer;
    const std::uint64_t size = m_usedBytes;
    m_fillingBuffer = m_otherBuffer;
    m_otherBuffer = full;
    m_usedBytes = 0;
    m_writer.Write(full, size);
}

void PerformanceMonitor::Write(const void* data, std::uint64_t size) {
    Lock lock(m_lock);
    Append(data, size);
}

void PerformanceMonitor::Append(const void* data, std::uint64_t size) {
    if (!m_capturing) return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (m_usedBytes + size <= m_capacity) {
        std::memcpy(m_fillingBuffer + m_usedBytes, bytes, size);
        m_usedBytes += size;
        return;
    }
    while (size > 0 && m_capturing) {
        if (m_usedBytes >= m_capacity) {
            Flush();
            continue;
        }
        const std::uint64_t free = m_capacity - m_usedBytes;
        const std::uint64_t part = size < free ? size : free;
        std::memcpy(m_fillingBuffer + m_usedBytes, bytes, part);
        m_usedBytes += part;
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
    if (!m_capturing) return;
    if (text == nullptr) text = L"";
    // Count first: the length goes in front, capped without splitting a surrogate pair.
    std::uint32_t units = 0;
    std::size_t characters = 0;
    for (; text[characters] != L'\0'; ++characters) {
        const unsigned next = Utf16UnitsOf(text[characters]);
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
        filled += EncodeUtf16(text[i], chunk + filled);
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
    Write64(static_cast<std::uint64_t>(static_cast<std::int64_t>(ticks) - m_logStartTime));
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
    if (!m_capturing) return;
    WriteHeader(type, StatisticId(id));
    Write(name);
}

void PerformanceMonitor::WriteStatisticCreate(Statistic& statistic, unsigned int id) {
    if (!m_capturing) return;
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
