#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Dictionary.h"
#include "Marvane/Error.h"
#include "Marvane/Export.h"
#include "Marvane/Platform/CriticalSection.h"

#include <cstdint>

namespace Marvane {

// Implemented by client code to receive the library's diagnostics. The text is valid only during the
// call. Loggers are called one at a time, inside the log manager's lock.
class ILogger {
  public:
    virtual void LogError(Error::Enum code, const wchar_t* text, const ContextInfo& context) = 0;
    virtual void LogWarning(const wchar_t* text) = 0;
    virtual void LogMessage(const wchar_t* text) = 0;

  protected:
    ILogger() = default;
    ILogger(const ILogger&) = default;
    ILogger& operator=(const ILogger&) = default;
    ~ILogger() = default;
};

class MARVANE_API ILogManager {
  public:
    virtual Error::Enum AddLogger(ILogger* logger) = 0;
    virtual Error::Enum RemoveLogger(ILogger* logger) = 0;
    virtual void MuteWarning(unsigned int id) = 0;
    virtual void UnMuteWarning(unsigned int id) = 0;
    virtual bool IsWarningMuted(unsigned int id) = 0;

    // The interface carries no state, so copying copies nothing.
    ILogManager() = default;
    ILogManager(const ILogManager&) {}
    ILogManager& operator=(const ILogManager&) { return *this; }

  protected:
    virtual ~ILogManager();
};

// The library's single outlet for diagnostics: formats each error, warning or message once and hands
// it to every registered logger in registration order. Warnings with an identifier can be muted.
class MARVANE_API LogManager : public ILogManager {
  public:
    static constexpr unsigned MaxLoggers = 16;
    // Formatted texts are cut to 2047 characters and a NUL.
    static constexpr int TextCapacity = 2048;

    Error::Enum AddLogger(ILogger* logger) override;
    Error::Enum RemoveLogger(ILogger* logger) override;
    void MuteWarning(unsigned int id) override;
    void UnMuteWarning(unsigned int id) override;
    bool IsWarningMuted(unsigned int id) override;

    // A warning that can be muted; reaches the loggers as "W<id>: <text>".
    virtual void LogWarning(unsigned int id, const wchar_t* format, ...);

    void LogError(Error::Enum code, const ContextInfo& context, const wchar_t* format, ...);
    void LogError(Error::Enum code, const wchar_t* text, const ContextInfo& context);
    void LogWarning(const wchar_t* format, ...);
    void LogMessage(const wchar_t* format, ...);

    LogManager(const LogManager&) = delete;
    LogManager& operator=(const LogManager&) = delete;

  private:
    friend LogManager* GetLogManagerPrivate();

    LogManager();
    ~LogManager() override;

    bool HasLoggers();
    void DispatchError(Error::Enum code, const wchar_t* text, const ContextInfo& context);
    void DispatchWarning(const wchar_t* text);
    void DispatchMessage(const wchar_t* text);

    ILogger* m_loggers[MaxLoggers];
    std::uint32_t m_loggerCount;
    Dictionary<unsigned int, bool, DefaultTypeHelper<unsigned int>> m_mutedWarnings;
    Platform::CriticalSection m_lock;
};

// The process-wide log manager, created on first use (thread-safe) and never destroyed: it stays usable
// until the process ends, also from destructors of client globals and from atexit handlers.
MARVANE_API ILogManager* GetLogManager();
MARVANE_API LogManager* GetLogManagerPrivate();

} // namespace Marvane
