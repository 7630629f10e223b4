#pragma once

#include <cstdint>
#include <cstring>

namespace Marvane::Detail {

// Every block handed out carries these 16 bytes directly in front of the user pointer.
inline constexpr std::uint64_t HeaderSize = 16;

struct AllocationHeader {
    std::uint64_t size;      // bytes the caller asked for
    std::uint16_t category;  // AllocationCategory::Enum
    std::uint16_t alignment; // 0 for plain blocks
};

// Distance from the raw block to the user pointer of an aligned block: the smallest multiple of the
// alignment that leaves room for the header, so the user pointer keeps the alignment.
inline constexpr std::uint64_t AlignedPrefix(std::uint32_t alignment) {
    return static_cast<std::uint64_t>(alignment) * ((alignment + HeaderSize - 1) / alignment);
}

inline void WriteHeader(void* user, std::uint64_t size, unsigned category, std::uint16_t alignment) {
    auto* bytes = static_cast<unsigned char*>(user) - HeaderSize;
    const auto category16 = static_cast<std::uint16_t>(category);
    std::memcpy(bytes, &size, sizeof size);
    std::memcpy(bytes + 8, &category16, sizeof category16);
    std::memcpy(bytes + 10, &alignment, sizeof alignment);
}

inline AllocationHeader ReadHeader(const void* user) {
    const auto* bytes = static_cast<const unsigned char*>(user) - HeaderSize;
    AllocationHeader header;
    std::memcpy(&header.size, bytes, sizeof header.size);
    std::memcpy(&header.category, bytes + 8, sizeof header.category);
    std::memcpy(&header.alignment, bytes + 10, sizeof header.alignment);
    return header;
}

} // namespace Marvane::Detail
