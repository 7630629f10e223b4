#include "Crc32Tables.h"

namespace Marvane::Utilities::Crc32Detail {

namespace {

inline std::uint32_t LoadLittle32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint32_t Step16(std::uint32_t reg, const unsigned char* p) {
    const auto& t = kCrc32Tables;
    const std::uint32_t a = LoadLittle32(p) ^ reg;
    const std::uint32_t b = LoadLittle32(p + 4);
    const std::uint32_t c = LoadLittle32(p + 8);
    const std::uint32_t d = LoadLittle32(p + 12);
    // Only the first word depends on the register; the other twelve lookups are summed apart so the
    // processor can finish them before the register arrives.
    const std::uint32_t rest =
        ((t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF]) ^ (t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24])) ^
        ((t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF]) ^ (t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24])) ^
        ((t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF]) ^ (t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24]));
    return ((t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF]) ^ (t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24])) ^ rest;
}

} // namespace

std::uint32_t UpdateSlicing16(std::uint32_t reg, const unsigned char* data, std::uint64_t size) {
    // Blocks of 64 bytes while a comfortable margin remains, so the prefetch never runs far past the
    // data; the tail (256 bytes or more after the block path) goes byte by byte.
    while (size >= 320) {
        __builtin_prefetch(data + 256);
        reg = Step16(reg, data);
        reg = Step16(reg, data + 16);
        reg = Step16(reg, data + 32);
        reg = Step16(reg, data + 48);
        data += 64;
        size -= 64;
    }
    const auto& t0 = kCrc32Tables[0];
    while (size-- > 0)
        reg = t0[(reg ^ *data++) & 0xFF] ^ (reg >> 8);
    return reg;
}

} // namespace Marvane::Utilities::Crc32Detail
