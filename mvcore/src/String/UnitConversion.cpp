#include "Marvane/String.h"

#include <cstring>

namespace Marvane::String {

// The buffers hold 16-bit or 32-bit units whatever wchar_t is, so every unit goes through memcpy rather
// than through a pointer of the other type.

bool UTF16ToUTF32(const unsigned short* source, std::uint64_t sourceCount, std::uint64_t destinationCount,
                  unsigned int* destination) {
    if (destinationCount == 0) return true;
    std::uint64_t read = 0;
    std::uint64_t written = 0;
    while (read < sourceCount && written < destinationCount) {
        const unsigned int unit = source[read++];
        if (unit < 0xD800 || unit > 0xDFFF) {
            destination[written++] = unit;
            continue;
        }
        if (unit > 0xDBFF || read >= sourceCount) return false;
        const unsigned int low = source[read++];
        if (low < 0xDC00 || low > 0xDFFF) return false;
        destination[written++] = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    if (written < destinationCount)
        destination[written] = 0;
    else
        destination[written - 1] = 0;
    return true;
}

void Convert2ByteWideTo4ByteWide(const wchar_t* source, std::uint64_t sourceCount,
                                 std::uint64_t destinationCount, wchar_t* destination) {
    const auto* from = reinterpret_cast<const unsigned char*>(source);
    auto* to = reinterpret_cast<unsigned char*>(destination);
    const std::uint64_t count = sourceCount < destinationCount ? sourceCount : destinationCount;
    // Back to front, so a buffer widened in place does not overwrite units still to be read.
    for (std::uint64_t i = count; i-- > 0;) {
        std::uint16_t narrow;
        std::memcpy(&narrow, from + 2 * i, sizeof narrow);
        const std::uint32_t wide = narrow;
        std::memcpy(to + 4 * i, &wide, sizeof wide);
    }
}

void Convert4ByteWideTo2ByteWide(const wchar_t* source, std::uint64_t sourceCount,
                                 std::uint64_t destinationCount, wchar_t* destination) {
    const auto* from = reinterpret_cast<const unsigned char*>(source);
    auto* to = reinterpret_cast<unsigned char*>(destination);
    const std::uint64_t count = sourceCount < destinationCount ? sourceCount : destinationCount;
    // Front to back, so a buffer narrowed in place does not overwrite units still to be read.
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t wide;
        std::memcpy(&wide, from + 4 * i, sizeof wide);
        const auto narrow = static_cast<std::uint16_t>(wide);
        std::memcpy(to + 2 * i, &narrow, sizeof narrow);
    }
}

} // namespace Marvane::String
