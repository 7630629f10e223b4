#pragma once

#include "Marvane/Export.h"

#include <cstdint>

namespace Marvane::Utilities {

// Block compression in FastLZ's two block formats. Blocks written here decompress with any FastLZ
// decoder and the other way round; the level of a block is recorded in the top three bits of its first
// byte, so Decompress needs no level.
class MARVANE_API Compressor {
  public:
    // The output buffer size Compress_level needs for `size` input bytes, whatever the bytes are.
    static std::uint64_t CalculateBufferSize(std::uint64_t size);

    // Compresses `size` bytes at level 1 (faster) or level 2 (smaller) into `output`, which must hold
    // CalculateBufferSize(size) bytes. Returns the block size; 0 for another level, an empty input or a
    // null pointer.
    static std::uint64_t Compress_level(int level, const void* input, std::uint64_t size, void* output);

    // Restores a block into `output`. Returns the restored size, or 0 when the block is damaged, does not
    // fit `capacity` or has an unknown level. Never reads past `size` input bytes nor writes past
    // `capacity` output bytes, whatever the input holds.
    static std::uint64_t Decompress(const void* input, std::uint64_t size, void* output,
                                    std::uint64_t capacity);
};

} // namespace Marvane::Utilities
