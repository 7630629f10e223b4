#pragma once

// The figures both fakes report, in KiB. FAKE_GPU_COUNT (0, 1 or 2; default 1) sets how many GPUs the
// enumeration finds; FAKE_GPU_FAIL_SECOND=1 makes every memory query of the second GPU fail.

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fake_gpu {

struct Figures {
    std::uint32_t dedicated;
    std::uint32_t available;
    std::uint32_t system;
    std::uint32_t shared;
    std::uint32_t current;
};

inline std::uint32_t queries[2] = {0, 0};

// The first GPU has 8 GiB; its free memory shrinks by 1 MiB with every query.
inline Figures Query(unsigned index) {
    const std::uint32_t calls = queries[index]++;
    if (index == 0) return {8388608u, 8300000u, 65536u, 4194304u, 7340032u - calls * 1024u};
    return {4194304u, 4100000u, 0u, 2097152u, 3145728u - calls * 2048u};
}

} // namespace fake_gpu
