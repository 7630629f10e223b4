#include "Marvane/Core.h"

#include "Core/CoreState.h"
#include "Core/MonitorLink.h"
#include "Marvane/LogManager.h"

namespace Marvane {

Error::Enum InitializeCore(std::int64_t) {
    Detail::CoreInitCount().fetch_add(1, std::memory_order_relaxed);
    Detail::InitializeGraphicsDriver();
    return Error::Ok;
}

bool ReleaseCore() {
    // A release without a matching initialisation would wrap the count, after which RegisterAllocator
    // is refused for good: the count stays at 0 and the caller hears of the mistake.
    std::uint32_t count = Detail::CoreInitCount().load(std::memory_order_relaxed);
    do {
        if (count == 0) {
            GetLogManagerPrivate()->LogError(Error::InvalidState, MARVANE_CONTEXT_INFO,
                                             L"ReleaseCore without a matching InitializeCore");
            return false;
        }
    } while (!Detail::CoreInitCount().compare_exchange_weak(count, count - 1, std::memory_order_relaxed));
    return count == 1;
}

bool IsCoreInitialized() {
    return Detail::CoreInitCount().load(std::memory_order_relaxed) != 0;
}

} // namespace Marvane
