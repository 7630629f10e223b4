#pragma once

// The few operating-system services the monitor needs on its hot paths, kept here so that a counter
// update costs no more than a lock, an add and a copy.

#include <cstddef>
#include <cstdint>

namespace Marvane::Performance::Detail {

std::int64_t HighResolutionTicks();
std::int64_t HighResolutionFrequency();
// Operating-system identifier of the calling thread (cached per thread).
std::uint32_t CurrentThreadId();
// Copies the variable into buffer (always NUL-terminated); false when it is missing or empty.
bool ReadEnvironment(const wchar_t* name, wchar_t* buffer, std::size_t capacity);

// Re-entrant lock living in caller-provided storage of LockStorageSize bytes, aligned to 16.
constexpr std::size_t LockStorageSize = 64;
void LockCreate(void* storage);
void LockDestroy(void* storage);
void LockEnter(void* storage);
void LockLeave(void* storage);

// Holds the lock in `storage` for its scope.
class Lock {
  public:
    explicit Lock(void* storage) : lockStorage(storage) { LockEnter(lockStorage); }
    ~Lock() { LockLeave(lockStorage); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    void* lockStorage;
};

} // namespace Marvane::Performance::Detail
