#include "Utilities/FastLz.h"

#include <bit>
#include <cstring>

namespace Marvane::Utilities::FastLz {

namespace {

constexpr unsigned kHashLog = 13;
constexpr std::uint32_t kHashSize = 1u << kHashLog;
constexpr std::uint32_t kMaxCopy = 32;
constexpr std::uint32_t kMaxLevel1Length = 264;
constexpr std::uint32_t kMaxLevel1Distance = 8192;
constexpr std::uint32_t kMaxLevel2Distance = 8191;
constexpr std::uint32_t kMaxFarDistance = 65535 + kMaxLevel2Distance - 1;

inline std::uint32_t Read24(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16;
}

inline std::uint32_t Hash(std::uint32_t v) {
    return ((v * 2654435769u) >> (32 - kHashLog)) & (kHashSize - 1);
}

inline std::uint64_t Load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// How far the bytes at p and q agree, q running up to `end`: the number of equal bytes plus the first
// different one, or the distance to `end` when they agree all the way. (Lengths in the formats count
// from this value.)
inline std::uint64_t MatchExtent(const unsigned char* p, const unsigned char* q, const unsigned char* end) {
    const unsigned char* start = q;
    if constexpr (std::endian::native == std::endian::little) {
        while (end - q >= 8) {
            const std::uint64_t diff = Load64(p) ^ Load64(q);
            if (diff != 0)
                return static_cast<std::uint64_t>(q - start) +
                       static_cast<std::uint64_t>(std::countr_zero(diff) >> 3) + 1;
            p += 8;
            q += 8;
        }
    }
    while (q < end)
        if (*p++ != *q++) break;
    return static_cast<std::uint64_t>(q - start);
}

unsigned char* EmitLiterals(std::uint64_t count, const unsigned char* source, unsigned char* op) {
    while (count >= kMaxCopy) {
        *op++ = kMaxCopy - 1;
        std::memcpy(op, source, kMaxCopy);
        source += kMaxCopy;
        op += kMaxCopy;
        count -= kMaxCopy;
    }
    if (count > 0) {
        *op++ = static_cast<unsigned char>(count - 1);
        std::memcpy(op, source, count);
        op += count;
    }
    return op;
}

// `length` is the match length minus 2, `distance` at least 1.
unsigned char* EmitMatchLevel1(std::uint64_t length, std::uint32_t distance, unsigned char* op) {
    --distance;
    const auto high = static_cast<unsigned char>(distance >> 8);
    const auto low = static_cast<unsigned char>(distance & 255);
    while (length > kMaxLevel1Length - 2) {
        *op++ = (7 << 5) + high;
        *op++ = kMaxLevel1Length - 2 - 7 - 2;
        *op++ = low;
        length -= kMaxLevel1Length - 2;
    }
    if (length < 7) {
        *op++ = static_cast<unsigned char>((length << 5) + high);
        *op++ = low;
    } else {
        *op++ = (7 << 5) + high;
        *op++ = static_cast<unsigned char>(length - 7);
        *op++ = low;
    }
    return op;
}

unsigned char* EmitLengthTail(std::uint64_t length, unsigned char* op) {
    for (length -= 7; length >= 255; length -= 255)
        *op++ = 255;
    *op++ = static_cast<unsigned char>(length);
    return op;
}

unsigned char* EmitMatchLevel2(std::uint64_t length, std::uint32_t distance, unsigned char* op) {
    --distance;
    if (distance < kMaxLevel2Distance) {
        if (length < 7) {
            *op++ = static_cast<unsigned char>((length << 5) + (distance >> 8));
        } else {
            *op++ = static_cast<unsigned char>((7 << 5) + (distance >> 8));
            op = EmitLengthTail(length, op);
        }
        *op++ = static_cast<unsigned char>(distance & 255);
    } else {
        distance -= kMaxLevel2Distance;
        if (length < 7) {
            *op++ = static_cast<unsigned char>((length << 5) + 31);
        } else {
            *op++ = (7 << 5) + 31;
            op = EmitLengthTail(length, op);
        }
        *op++ = 255;
        *op++ = static_cast<unsigned char>(distance >> 8);
        *op++ = static_cast<unsigned char>(distance & 255);
    }
    return op;
}

// One greedy pass with a single-entry hash table of 3-byte prefixes. Positions are kept modulo 2^32;
// every candidate is checked byte by byte before use, so inputs beyond 4 GiB only lose matches, never
// correctness.
template <int Level>
std::uint64_t Compress(const unsigned char* input, std::uint64_t size, unsigned char* output) {
    constexpr std::uint32_t maxDistance = Level == 1 ? kMaxLevel1Distance : kMaxFarDistance;
    unsigned char* op = output;
    const unsigned char* anchor = input;

    if (size >= 16) {
        const unsigned char* ip = input + 2;
        const unsigned char* const compareEnd = input + size - 4;
        const unsigned char* const searchEnd = input + size - 13;
        std::uint32_t table[kHashSize] = {};

        while (ip < searchEnd) {
            const unsigned char* ref;
            std::uint32_t distance;
            std::uint32_t seq;
            // Find the next position whose three bytes occurred within reach.
            for (;;) {
                seq = Read24(ip);
                const std::uint32_t hash = Hash(seq);
                const auto position = static_cast<std::uint32_t>(ip - input);
                distance = position - table[hash];
                table[hash] = position;
                const bool reachable = distance - 1 < maxDistance - 1;
                ref = ip - distance;
                // The reference always lies inside the input, so it is read whether or not it is in reach:
                // one predictable test instead of a branch on the distance.
                const bool found = (Read24(ref) == seq) & reachable;
                if (ip >= searchEnd) break;
                ++ip;
                if (found) break;
            }
            if (ip >= searchEnd) break;
            --ip;

            // A far match costs two more bytes: take it only when at least five bytes agree.
            if (Level == 2 && distance >= kMaxLevel2Distance && (ref[3] != ip[3] || ref[4] != ip[4])) {
                ++ip;
                continue;
            }

            if (ip > anchor) op = EmitLiterals(static_cast<std::uint64_t>(ip - anchor), anchor, op);

            const std::uint64_t length = MatchExtent(ref + 3, ip + 3, compareEnd);
            op = Level == 1 ? EmitMatchLevel1(length, distance, op) : EmitMatchLevel2(length, distance, op);

            // Seed the table at the end of the match, where the next search resumes.
            ip += length;
            const std::uint32_t at = static_cast<std::uint32_t>(ip - input);
            table[Hash(Read24(ip))] = at;
            table[Hash(Read24(ip + 1))] = at + 1;
            ip += 2;
            anchor = ip;
        }
    }

    op = EmitLiterals(static_cast<std::uint64_t>(input + size - anchor), anchor, op);
    if (Level == 2) output[0] |= 1 << 5;
    return static_cast<std::uint64_t>(op - output);
}

} // namespace

std::uint64_t CompressLevel1(const unsigned char* input, std::uint64_t size, unsigned char* output) {
    return Compress<1>(input, size, output);
}

std::uint64_t CompressLevel2(const unsigned char* input, std::uint64_t size, unsigned char* output) {
    return Compress<2>(input, size, output);
}

} // namespace Marvane::Utilities::FastLz
