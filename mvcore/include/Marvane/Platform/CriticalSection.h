#pragma once

#include "Marvane/Export.h"

namespace Marvane::Platform {

// A re-entrant lock: the owning thread may enter again and must leave as often as it entered.
// Entering first tries without waiting, so an uncontended enter never waits on a kernel object.
// Creating, entering and leaving allocate no memory, so the performance monitor (which must not
// allocate: allocations report to it) and code running during process exit can use it.
class MARVANE_API CriticalSection {
  public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter();
    // Enters if the lock is free or already held by the calling thread.
    bool TryEnter();
    void Leave();

  private:
    // Room for the operating system's lock object, kept inline so that headers need no system header
    // and constructing a lock allocates nothing.
    alignas(16) unsigned char m_lock[64];
};

// Holds a CriticalSection from construction to the end of the scope.
class ScopedCriticalSection {
  public:
    explicit ScopedCriticalSection(CriticalSection& lock) : m_lock(lock) { m_lock.Enter(); }
    ~ScopedCriticalSection() { m_lock.Leave(); }
    ScopedCriticalSection(const ScopedCriticalSection&) = delete;
    ScopedCriticalSection& operator=(const ScopedCriticalSection&) = delete;

  private:
    CriticalSection& m_lock;
};

} // namespace Marvane::Platform
