#include "Marvane/LogManager.h"

#include "Marvane/String.h"

#include <atomic>
#include <cstdarg>
#include <new>

namespace Marvane {

using Held = Platform::ScopedCriticalSection;

ILogManager::~ILogManager() = default;

LogManager::LogManager() : m_loggers{}, m_loggerCount(0) {}

// Teardown releases the muted-warning nodes, then their buckets, then the lock. The process-wide
// manager is never destroyed (see GetLogManagerPrivate).
LogManager::~LogManager() {
    m_mutedWarnings.Clear();
}

// Read without the lock: an application without loggers pays one test per call. A logger added on
// another thread at the same moment may miss this one message, which is harmless.
bool LogManager::HasLoggers() {
    return std::atomic_ref<std::uint32_t>(m_loggerCount).load(std::memory_order_relaxed) != 0;
}

Error::Enum LogManager::AddLogger(ILogger* logger) {
    if (logger == nullptr) return Error::InvalidParameter;
    Held held(m_lock);
    if (m_loggerCount >= MaxLoggers) return Error::OutOfMemory;
    m_loggers[m_loggerCount] = logger;
    std::atomic_ref<std::uint32_t>(m_loggerCount).store(m_loggerCount + 1, std::memory_order_relaxed);
    return Error::Ok;
}

Error::Enum LogManager::RemoveLogger(ILogger* logger) {
    Held held(m_lock);
    for (std::uint32_t i = 0; i < m_loggerCount; ++i) {
        if (m_loggers[i] != logger) continue;
        for (std::uint32_t j = i + 1; j < m_loggerCount; ++j)
            m_loggers[j - 1] = m_loggers[j];
        const std::uint32_t count = m_loggerCount - 1;
        m_loggers[count] = nullptr;
        std::atomic_ref<std::uint32_t>(m_loggerCount).store(count, std::memory_order_relaxed);
        return Error::Ok;
    }
    return Error::InvalidParameter;
}

// An insertion that finds no memory is dropped: the warning simply stays audible.
void LogManager::MuteWarning(unsigned int id) {
    Held held(m_lock);
    m_mutedWarnings.Insert(id, true);
}

void LogManager::UnMuteWarning(unsigned int id) {
    Held held(m_lock);
    m_mutedWarnings.Remove(id);
}

bool LogManager::IsWarningMuted(unsigned int id) {
    Held held(m_lock);
    return m_mutedWarnings.Contains(id);
}

// Loggers may call back into the manager on the same thread: the lock is re-entrant, and the loop
// re-reads the count so a logger removing itself cannot push the walk past the table.
void LogManager::DispatchError(Error::Enum code, const wchar_t* text, const ContextInfo& context) {
    Held held(m_lock);
    for (std::uint32_t i = 0; i < m_loggerCount; ++i)
        m_loggers[i]->LogError(code, text, context);
}

void LogManager::DispatchWarning(const wchar_t* text) {
    Held held(m_lock);
    for (std::uint32_t i = 0; i < m_loggerCount; ++i)
        m_loggers[i]->LogWarning(text);
}

void LogManager::DispatchMessage(const wchar_t* text) {
    Held held(m_lock);
    for (std::uint32_t i = 0; i < m_loggerCount; ++i)
        m_loggers[i]->LogMessage(text);
}

void LogManager::LogWarning(unsigned int id, const wchar_t* format, ...) {
    if (!HasLoggers() || IsWarningMuted(id)) return;
    wchar_t message[TextCapacity];
    va_list arguments;
    va_start(arguments, format);
    String::FormatStringTruncVA(message, TextCapacity, format, arguments);
    va_end(arguments);
    wchar_t text[TextCapacity];
    String::FormatStringTrunc(text, TextCapacity, L"W%u: %ls", id, message);
    DispatchWarning(text);
}

void LogManager::LogError(Error::Enum code, const ContextInfo& context, const wchar_t* format, ...) {
    if (!HasLoggers()) return;
    wchar_t text[TextCapacity];
    va_list arguments;
    va_start(arguments, format);
    String::FormatStringTruncVA(text, TextCapacity, format, arguments);
    va_end(arguments);
    DispatchError(code, text, context);
}

void LogManager::LogError(Error::Enum code, const wchar_t* text, const ContextInfo& context) {
    if (!HasLoggers()) return;
    DispatchError(code, text, context);
}

void LogManager::LogWarning(const wchar_t* format, ...) {
    if (!HasLoggers()) return;
    wchar_t text[TextCapacity];
    va_list arguments;
    va_start(arguments, format);
    String::FormatStringTruncVA(text, TextCapacity, format, arguments);
    va_end(arguments);
    DispatchWarning(text);
}

void LogManager::LogMessage(const wchar_t* format, ...) {
    if (!HasLoggers()) return;
    wchar_t text[TextCapacity];
    va_list arguments;
    va_start(arguments, format);
    String::FormatStringTruncVA(text, TextCapacity, format, arguments);
    va_end(arguments);
    DispatchMessage(text);
}

// The manager lives in static storage and is never destroyed, like the performance monitor: client
// destructors and atexit handlers may log and mute at exit whatever their order relative to the first
// use of the manager, and nothing is released through a client IAllocator that may already be gone.
// The muted-warning nodes stay reachable from here until the process ends.
LogManager* GetLogManagerPrivate() {
    alignas(LogManager) static unsigned char storage[sizeof(LogManager)];
    static LogManager* const instance = new (storage) LogManager();
    return instance;
}

ILogManager* GetLogManager() {
    return GetLogManagerPrivate();
}

} // namespace Marvane
