#pragma once

// The Ogg page checksum: CRC-32 with polynomial 0x04C11DB7, most significant bit first, no reflection,
// initial value 0, no final XOR, computed over the whole page with its CRC field taken as zero.

#include <cstddef>
#include <cstdint>

// crc = (crc << 8) ^ table[(crc >> 24) ^ b] for each byte.
uint32_t ogg_crc_update(uint32_t crc, const uint8_t* bytes, size_t n);

// CRC of a whole page of `size` bytes, with its CRC field counted as zero whatever it holds.
uint32_t ogg_page_crc(const uint8_t* page, size_t size);
