#pragma once

#include <array>
#include <cstdint>

namespace Marvane::Utilities::Crc32Detail {

// Sixteen byte tables of the reflected polynomial 0xEDB88320. Table 0 is the classic byte table; table k
// advances table k-1 by one more zero byte, which lets sixteen input bytes be folded in one step.
using Crc32TableSet = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr Crc32TableSet MakeCrc32Tables() {
    Crc32TableSet tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
        tables[0][i] = r;
    }
    for (std::size_t k = 1; k < 16; ++k)
        for (std::size_t i = 0; i < 256; ++i)
            tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFFu];
    return tables;
}

inline constexpr Crc32TableSet kCrc32Tables = MakeCrc32Tables();

// Advances the raw register (no complements) over the bytes with slicing-by-16.
std::uint32_t UpdateSlicing16(std::uint32_t reg, const unsigned char* data, std::uint64_t size);

// Advances the raw register with carry-less multiplication where the processor has it; returns false
// (register untouched) where it does not, or when the range is too short to gain anything.
bool UpdateCarryless(std::uint32_t& reg, const unsigned char* data, std::uint64_t size);

} // namespace Marvane::Utilities::Crc32Detail
