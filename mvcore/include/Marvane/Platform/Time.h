#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

// None of these allocate memory; the performance monitor reads the clock and the thread identifier on
// every range.
namespace Marvane::Platform {

// Frequency and current value of the high-resolution monotonic counter.
MARVANE_API i64 GetTicksPerSecond();
MARVANE_API i64 GetTimeTicks();

// Milliseconds since the system started, from a 32-bit counter: it wraps to 0 after about 49.7 days
// and is never negative.
MARVANE_API i64 GetTimeMs();

// The operating system's identifier of the calling thread.
MARVANE_API u64 GetThreadId();

// The local calendar date: month 1 to 12, day 1 to 31. Always Ok.
MARVANE_API Error::Enum GetLocalDate(u32& year, u32& month, u32& day);

// Suspends the calling thread for at least `milliseconds`.
MARVANE_API void Sleep(u32 milliseconds);

} // namespace Marvane::Platform
