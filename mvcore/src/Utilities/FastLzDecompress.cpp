#include "Utilities/FastLz.h"

#include <cstring>

namespace Marvane::Utilities::FastLz {

namespace {

// Copies a match that may overlap its own output, eight bytes at a time where it can, never past the
// match's own end.
inline void CopyMatch(unsigned char* op, std::uint64_t distance, std::uint64_t length) {
    const unsigned char* ref = op - distance;
    if (distance == 1) {
        std::memset(op, *ref, length);
        return;
    }
    std::uint64_t i = 0;
    std::uint64_t step = distance;
    if (distance < 8) {
        if (length < 16) {
            for (; i < length; ++i)
                op[i] = ref[i];
            return;
        }
        // A short period: lay down the first eight bytes one by one, then copy from a whole number of
        // periods back, at least eight bytes behind, where the pattern is already in place.
        for (; i < 8; ++i)
            op[i] = ref[i];
        step = distance * ((8 + distance - 1) / distance);
    }
    for (; i + 8 <= length; i += 8)
        std::memcpy(op + i, op + i - step, 8);
    // Offset from op + i, not i - step as an index: a match shorter than its distance has i < step,
    // and the unsigned index would wrap.
    for (; i < length; ++i)
        op[i] = *(op + i - step);
}

// Every read is checked against the end of the block and every write against `capacity`: a damaged or
// hostile block ends with 0, never with an access outside the two buffers. Room is counted, never turned
// into an end pointer, so any capacity a caller passes is safe to hold.
template <int Level>
std::uint64_t Decompress(const unsigned char* ip, std::uint64_t size, unsigned char* output,
                         std::uint64_t capacity) {
    if (size == 0) return 0;
    const unsigned char* const ipEnd = ip + size;
    unsigned char* op = output;

    std::uint32_t control = *ip++ & 31;
    for (;;) {
        if (control >= 32) {
            std::uint64_t length = (control >> 5) - 1;
            std::uint64_t distance = (control & 31) << 8;
            if (length == 7 - 1) {
                if constexpr (Level == 1) {
                    if (ip >= ipEnd) return 0;
                    length += *ip++;
                } else {
                    unsigned char code;
                    do {
                        if (ip >= ipEnd) return 0;
                        code = *ip++;
                        length += code;
                    } while (code == 255);
                }
            }
            if (ip >= ipEnd) return 0;
            const unsigned char low = *ip++;
            distance += low;
            length += 3;
            if constexpr (Level == 2) {
                if (low == 255 && distance == (31u << 8) + 255) {
                    if (ipEnd - ip < 2) return 0;
                    distance = ((static_cast<std::uint64_t>(ip[0]) << 8) | ip[1]) + 8191;
                    ip += 2;
                }
            }
            ++distance;
            const auto produced = static_cast<std::uint64_t>(op - output);
            if (distance > produced || length > capacity - produced) return 0;
            if (length <= 16 && distance >= 8 && capacity - produced >= 16) {
                // Most matches are short: two fixed copies, spilling into space later output overwrites.
                std::memcpy(op, op - distance, 8);
                std::memcpy(op + 8, op + 8 - distance, 8);
            } else {
                CopyMatch(op, distance, length);
            }
            op += length;
        } else {
            const std::uint64_t count = control + 1;
            const auto inputLeft = static_cast<std::uint64_t>(ipEnd - ip);
            const std::uint64_t outputLeft = capacity - static_cast<std::uint64_t>(op - output);
            if (count > inputLeft || count > outputLeft) return 0;
            if (inputLeft >= 32 && outputLeft >= 32)
                std::memcpy(op, ip, 32); // one fixed-size copy of the longest run is cheaper than a sized one
            else
                std::memcpy(op, ip, count);
            ip += count;
            op += count;
        }
        if (ip >= ipEnd) break;
        control = *ip++;
    }
    return static_cast<std::uint64_t>(op - output);
}

} // namespace

std::uint64_t DecompressLevel1(const unsigned char* input, std::uint64_t size, unsigned char* output,
                               std::uint64_t capacity) {
    return Decompress<1>(input, size, output, capacity);
}

std::uint64_t DecompressLevel2(const unsigned char* input, std::uint64_t size, unsigned char* output,
                               std::uint64_t capacity) {
    return Decompress<2>(input, size, output, capacity);
}

} // namespace Marvane::Utilities::FastLz
