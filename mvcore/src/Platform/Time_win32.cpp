#include "Marvane/Platform/Time.h"

#include <windows.h>

namespace Marvane::Platform {

i64 GetTicksPerSecond() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

i64 GetTimeTicks() {
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// The 32-bit tick count, widened without sign so that it never turns negative when it wraps.
i64 GetTimeMs() {
    return static_cast<i64>(static_cast<u32>(GetTickCount()));
}

u64 GetThreadId() {
    return GetCurrentThreadId();
}

Error::Enum GetLocalDate(u32& year, u32& month, u32& day) {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    year = local.wYear;
    month = local.wMonth;
    day = local.wDay;
    return Error::Ok;
}

void Sleep(u32 milliseconds) {
    ::Sleep(milliseconds);
}

} // namespace Marvane::Platform
