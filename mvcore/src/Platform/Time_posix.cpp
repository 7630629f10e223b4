#include "Marvane/Platform/Time.h"

#include <cerrno>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace Marvane::Platform {

namespace {

constexpr i64 NanosecondsPerSecond = 1000000000;

i64 ReadClock(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<i64>(now.tv_sec) * NanosecondsPerSecond + now.tv_nsec;
}

} // namespace

// The high-resolution counter counts nanoseconds of the monotonic clock.
i64 GetTicksPerSecond() {
    return NanosecondsPerSecond;
}

i64 GetTimeTicks() {
    return ReadClock(CLOCK_MONOTONIC);
}

i64 GetTimeMs() {
    // Time since boot including suspended periods, as Windows' tick count, cut to the same 32 bits.
#ifdef CLOCK_BOOTTIME
    const i64 nanoseconds = ReadClock(CLOCK_BOOTTIME);
#else
    const i64 nanoseconds = ReadClock(CLOCK_MONOTONIC);
#endif
    return static_cast<i64>(static_cast<u32>(nanoseconds / 1000000));
}

u64 GetThreadId() {
#ifdef SYS_gettid
    return static_cast<u64>(syscall(SYS_gettid));
#else
    return static_cast<u64>(reinterpret_cast<std::uintptr_t>(pthread_self()));
#endif
}

Error::Enum GetLocalDate(u32& year, u32& month, u32& day) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    year = static_cast<u32>(local.tm_year + 1900);
    month = static_cast<u32>(local.tm_mon + 1);
    day = static_cast<u32>(local.tm_mday);
    return Error::Ok;
}

void Sleep(u32 milliseconds) {
    timespec remaining{static_cast<std::time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal cuts the sleep short; the rest is slept after it.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // namespace Marvane::Platform
