#include "PerformanceMonitor/MonitorSystem.h"
#include "PerformanceMonitor/WideText.h"

#include <cstdlib>
#include <ctime>
#include <new>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Marvane::Performance::Detail {

std::int64_t HighResolutionTicks() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t HighResolutionFrequency() {
    return 1000000000;
}

std::uint32_t CurrentThreadId() {
    // gettid is a system call; ranges ask for the identifier on every push and pop.
    thread_local std::uint32_t cached = static_cast<std::uint32_t>(syscall(SYS_gettid));
    return cached;
}

bool ReadEnvironment(const wchar_t* name, wchar_t* buffer, std::size_t capacity) {
    char narrowName[256];
    if (WideToUtf8(name, narrowName, sizeof(narrowName)) == 0) return false;
    const char* value = std::getenv(narrowName);
    if (value == nullptr || *value == '\0' || capacity == 0) {
        if (capacity != 0) buffer[0] = L'\0';
        return false;
    }
    Utf8ToWide(value, buffer, capacity);
    return buffer[0] != L'\0';
}

static_assert(sizeof(pthread_mutex_t) <= LockStorageSize, "lock storage too small");

void LockCreate(void* storage) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void LockDestroy(void* storage) {
    pthread_mutex_destroy(static_cast<pthread_mutex_t*>(storage));
}

void LockEnter(void* storage) {
    auto* mutex = static_cast<pthread_mutex_t*>(storage);
    // An uncontended enter never waits on the kernel.
    if (pthread_mutex_trylock(mutex) != 0) pthread_mutex_lock(mutex);
}

void LockLeave(void* storage) {
    pthread_mutex_unlock(static_cast<pthread_mutex_t*>(storage));
}

} // namespace Marvane::Performance::Detail
