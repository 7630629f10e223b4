// UTF16ToUTF32 against a plain restatement of its rules, on every unit sequence and destination size.
// The first byte is the destination size in code points; the rest are UTF-16 units, little-endian.

#include <Marvane/String.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool is_high(unsigned u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low(unsigned u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Units are read while units remain and there is room; a surrogate must come as a high-low pair;
// the terminator takes the last code point's place when the room runs out.
bool reference(const std::vector<unsigned short>& source, size_t room, std::vector<unsigned>& out) {
    out.clear();
    if (room == 0) return true;
    size_t i = 0;
    while (i < source.size() && out.size() < room) {
        const unsigned u = source[i++];
        if (!is_high(u) && !is_low(u)) {
            out.push_back(u);
        } else if (is_high(u) && i < source.size() && is_low(source[i])) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (source[i++] - 0xDC00u));
        } else {
            return false;
        }
    }
    if (out.size() < room)
        out.push_back(0);
    else
        out.back() = 0;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t room = data[0];
    std::vector<unsigned short> source((size - 1) / 2);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<unsigned short>(data[1 + 2 * i] | (data[2 + 2 * i] << 8));

    // Exactly the room given, so AddressSanitizer sees any write beyond it.
    std::vector<unsigned> destination(room);
    const bool converted = Marvane::String::UTF16ToUTF32(source.data(), source.size(), room,
                                                         room ? destination.data() : nullptr);

    std::vector<unsigned> expected;
    if (converted != reference(source, room, expected)) std::abort();
    if (converted && room > 0 && std::memcmp(destination.data(), expected.data(), expected.size() * 4) != 0)
        std::abort();
    return 0;
}
