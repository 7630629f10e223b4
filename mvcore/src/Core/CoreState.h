#pragma once

#include <atomic>
#include <cstdint>

namespace Marvane::Detail {

// How often the core has been initialised and not yet released. Start-up and shut-down happen on one
// thread, but allocations on any thread read it, hence the atomic.
inline std::atomic<std::uint32_t>& CoreInitCount() {
    static constinit std::atomic<std::uint32_t> count{0};
    return count;
}

} // namespace Marvane::Detail
