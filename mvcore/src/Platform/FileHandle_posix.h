#pragma once

#include <cstdint>

namespace Marvane::Platform::Detail {

// A file handle carries the descriptor itself; -1 gives the all-bits-set invalid handle.
inline void* HandleFromDescriptor(int fd) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
}
inline int DescriptorFromHandle(void* handle) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

} // namespace Marvane::Platform::Detail
