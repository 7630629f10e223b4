#include "Marvane/Utilities/Compressor.h"

#include "Utilities/FastLz.h"

namespace Marvane::Utilities {

std::uint64_t Compressor::CalculateBufferSize(std::uint64_t size) {
    const std::uint64_t needed = size + (size + 19) / 20;
    return needed < 66 ? 66 : needed;
}

// Sizes stay 64-bit all the way: the block formats hold only lengths and distances, so inputs of 2 GiB
// and more compress like any other instead of being cut to a 32-bit count.
std::uint64_t Compressor::Compress_level(int level, const void* input, std::uint64_t size, void* output) {
    if (input == nullptr || output == nullptr || size == 0) return 0;
    const auto* in = static_cast<const unsigned char*>(input);
    auto* out = static_cast<unsigned char*>(output);
    switch (level) {
    case 1:
        return FastLz::CompressLevel1(in, size, out);
    case 2:
        return FastLz::CompressLevel2(in, size, out);
    default:
        return 0;
    }
}

std::uint64_t Compressor::Decompress(const void* input, std::uint64_t size, void* output,
                                     std::uint64_t capacity) {
    if (input == nullptr || output == nullptr || size == 0) return 0;
    const auto* in = static_cast<const unsigned char*>(input);
    auto* out = static_cast<unsigned char*>(output);
    switch (in[0] >> 5) {
    case 0:
        return FastLz::DecompressLevel1(in, size, out, capacity);
    case 1:
        return FastLz::DecompressLevel2(in, size, out, capacity);
    default:
        return 0;
    }
}

} // namespace Marvane::Utilities
