#pragma once

// Stand-in for the platform layer's critical section until that layer is part of the build.

#include <mutex>

namespace Marvane::Detail {

class PendingCriticalSection {
  public:
    void Enter() { m_mutex.lock(); }
    bool TryEnter() { return m_mutex.try_lock(); }
    void Leave() { m_mutex.unlock(); }

  private:
    std::recursive_mutex m_mutex;
};

} // namespace Marvane::Detail
