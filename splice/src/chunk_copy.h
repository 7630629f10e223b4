#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace splice_tool {

inline constexpr std::size_t chunk_size = 0x100000; // 1 MiB

enum class CopyOrder {
    // Source front to back; the normal order.
    front_to_back,
    // Last chunk first. Needed when source and target are one file and the destination starts
    // inside the source stretch: front to back would read bytes it has already overwritten.
    back_to_front,
};

// Copies the first `length` bytes of `source` into `target` at `offset`, in 1 MiB chunks (the last
// one carries the remainder). A chunk is written only after it has been read in full, so a source
// that shrinks meanwhile stops the copy instead of writing stale buffer bytes.
// Throws SpliceError (failure) on a failed seek, read or write.
void copy_chunks(std::FILE* source, std::FILE* target, std::uint64_t offset, std::uint64_t length,
                 CopyOrder order);

} // namespace splice_tool
