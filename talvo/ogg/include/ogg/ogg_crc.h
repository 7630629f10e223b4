#pragma once

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, most significant bit first, no reflection,
// initial value 0, no final XOR, computed over the whole page with its CRC field taken as zero.

#include <cstddef>
#include <cstdint>

// The 256-entry table: entry i = i << 24 run through eight shift-and-XOR steps.
const uint32_t* ogg_crc_table();

// crc = (crc << 8) ^ table[(crc >> 24) ^ b] for each byte.
uint32_t ogg_crc_update(uint32_t crc, const uint8_t* bytes, size_t n);

// CRC of a whole page of `size` bytes, with bytes 22-25 counted as zero whatever they hold.
uint32_t ogg_page_crc(const uint8_t* page, size_t size);

// 27 + S + the sum of the lacing values, read from the page header; 0 when the header, the lacing
// table or the payload would reach past `available` bytes or the capture pattern is missing.
uint32_t ogg_page_size(const uint8_t* page, size_t available);

inline uint32_t read_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void write_le32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
