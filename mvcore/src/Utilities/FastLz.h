#pragma once

#include <cstdint>

// Our codec of FastLZ's two block formats.
//
// Both formats are a sequence of instructions whose first byte carries a 3-bit field L and 5 bits H:
//   L = 0         literal run: H + 1 bytes follow verbatim (the first instruction is always one; its L
//                 field holds the level marker instead: 0 for level 1, 1 for level 2).
//   L = 1..6      match of L + 2 bytes, distance (H << 8) + next byte + 1.
//   L = 7         match with a longer length: level 1 adds one byte (9 + byte, at most 264); level 2 adds
//                 bytes while they are 255 (9 + their sum). The distance byte follows.
// Level 2 only: distance byte 255 with H = 31 announces two more bytes (big-endian), the distance being
// 8192 + their value, up to 73,727 bytes back.
namespace Marvane::Utilities::FastLz {

// Compressors: `output` must hold input size + 5 %, at least 66 bytes. They return the block size.
std::uint64_t CompressLevel1(const unsigned char* input, std::uint64_t size, unsigned char* output);
std::uint64_t CompressLevel2(const unsigned char* input, std::uint64_t size, unsigned char* output);

// Decompressors: return the restored size, 0 for a damaged block or one that does not fit `capacity`.
std::uint64_t DecompressLevel1(const unsigned char* input, std::uint64_t size, unsigned char* output,
                               std::uint64_t capacity);
std::uint64_t DecompressLevel2(const unsigned char* input, std::uint64_t size, unsigned char* output,
                               std::uint64_t capacity);

} // namespace Marvane::Utilities::FastLz
