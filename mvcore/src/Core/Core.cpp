#include "Marvane/Core.h"

#include "Core/CoreState.h"
#include "Core/MonitorLink.h"

namespace Marvane {

Error::Enum InitializeCore(std::int64_t) {
    Detail::CoreInitCount().fetch_add(1, std::memory_order_relaxed);
    Detail::InitializeGraphicsDriver();
    return Error::Ok;
}

bool ReleaseCore() {
    return Detail::CoreInitCount().fetch_sub(1, std::memory_order_relaxed) == 1;
}

bool IsCoreInitialized() {
    return Detail::CoreInitCount().load(std::memory_order_relaxed) != 0;
}

} // namespace Marvane
