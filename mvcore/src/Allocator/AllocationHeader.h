#pragma once

#include <bit>
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

// The header keeps the category in 16 bits: a block of a larger category could not be released to the
// category it was counted to, so such categories are refused.
inline constexpr bool FitsHeader(unsigned category) {
    return category <= 0xFFFFu;
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

// The requested size alone.
inline std::uint64_t ReadSize(const void* user) {
    std::uint64_t size;
    std::memcpy(&size, static_cast<const unsigned char*>(user) - HeaderSize, sizeof size);
    return size;
}

// Category in the low 16 bits, alignment in the high 16 bits: below 65536 exactly for plain blocks.
inline std::uint32_t ReadCategoryAndAlignment(const void* user) {
    static_assert(std::endian::native == std::endian::little, "category and alignment read as one word");
    std::uint32_t word;
    std::memcpy(&word, static_cast<const unsigned char*>(user) - HeaderSize + 8, sizeof word);
    return word;
}

} // namespace Marvane::Detail
