#include "Utilities/FastLz.h"

#include <cstring>

namespace Marvane::Utilities::FastLz {

namespace {

// Copies a match that may overlap its own output. Wide copies are used only where they stay inside the
// output buffer; they may write a few bytes past the match, which later instructions overwrite.
inline void CopyMatch(unsigned char* op, std::uint64_t distance, std::uint64_t length,
                      const unsigned char* opEnd) {
    const unsigned char* ref = op - distance;
    if (distance == 1) {
        std::memset(op, *ref, length);
        return;
    }
    if (distance >= 8 && static_cast<std::uint64_t>(opEnd - op) >= length + 8) {
        for (std::uint64_t i = 0; i < length; i += 8)
            std::memcpy(op + i, ref + i, 8);
        return;
    }
    for (std::uint64_t i = 0; i < length; ++i)
        op[i] = ref[i];
}

// Every read is checked against the end of the block and every write against `capacity`: a damaged or
// hostile block ends with 0, never with an access outside the two buffers.
template <int Level>
std::uint64_t Decompress(const unsigned char* ip, std::uint64_t size, unsigned char* output,
                         std::uint64_t capacity) {
    if (size == 0) return 0;
    const unsigned char* const ipEnd = ip + size;
    unsigned char* op = output;
    unsigned char* const opEnd = output + capacity;

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
            if (distance > static_cast<std::uint64_t>(op - output) ||
                length > static_cast<std::uint64_t>(opEnd - op))
                return 0;
            CopyMatch(op, distance, length, opEnd);
            op += length;
        } else {
            const std::uint64_t count = control + 1;
            if (count > static_cast<std::uint64_t>(ipEnd - ip) ||
                count > static_cast<std::uint64_t>(opEnd - op))
                return 0;
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
