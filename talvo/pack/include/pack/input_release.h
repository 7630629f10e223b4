#pragma once

// How the packer lets its caller take back the memory of an input it has read: a mapped file's pages
// stay resident once touched, and an input read several times over (scan, plan, passes, verification)
// would otherwise come to occupy its whole size. Every kInputReleaseInterval bytes read, `release` is
// called from the reading thread (several threads may call it at once); the caller may then drop the
// input's pages, which the system reads again from the file where they are needed.

#include <cstddef>

constexpr size_t kInputReleaseInterval = size_t{16} << 20;

struct InputRelease {
    void (*release)(void* context) = nullptr;
    void* context = nullptr;
    size_t unreleased = 0; // bytes read since the last call
};

inline void note_input_read(InputRelease& input, size_t bytes) {
    if (!input.release) return;
    input.unreleased += bytes;
    if (input.unreleased < kInputReleaseInterval) return;
    input.unreleased = 0;
    input.release(input.context);
}
