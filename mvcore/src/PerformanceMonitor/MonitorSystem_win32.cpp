#include "PerformanceMonitor/MonitorSystem.h"

#include <new>
#include <windows.h>

namespace Marvane::Performance::Detail {

std::int64_t HighResolutionTicks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

std::int64_t HighResolutionFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

std::uint32_t CurrentThreadId() {
    return GetCurrentThreadId();
}

bool ReadEnvironment(const wchar_t* name, wchar_t* buffer, std::size_t capacity) {
    if (capacity == 0) return false;
    buffer[0] = L'\0';
    const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(capacity));
    buffer[capacity - 1] = L'\0';
    if (length == 0 || length >= capacity) {
        // Missing, empty, or too long for the buffer: treated alike as "not usable".
        buffer[0] = L'\0';
        return false;
    }
    return true;
}

static_assert(sizeof(CRITICAL_SECTION) <= LockStorageSize, "lock storage too small");

void LockCreate(void* storage) {
    InitializeCriticalSectionAndSpinCount(new (storage) CRITICAL_SECTION, 1000);
}

void LockDestroy(void* storage) {
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(storage));
}

void LockEnter(void* storage) {
    auto* section = static_cast<CRITICAL_SECTION*>(storage);
    if (!TryEnterCriticalSection(section)) EnterCriticalSection(section);
}

void LockLeave(void* storage) {
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(storage));
}

} // namespace Marvane::Performance::Detail
