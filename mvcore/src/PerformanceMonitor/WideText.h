#pragma once

// Wide-text helpers of the monitor: names are compared and stored as wchar_t, logged as UTF-16LE and
// handed to POSIX calls as UTF-8. wchar_t is 16 bits on Windows and 32 bits elsewhere.

#include <cstddef>
#include <cstdint>

namespace Marvane::Performance::Detail {

bool WideEquals(const wchar_t* a, const wchar_t* b);
// Copies at most capacity - 1 characters and terminates.
void CopyTruncated(wchar_t* destination, std::size_t capacity, const wchar_t* source);

// Number of UTF-16 code units of one character (0 when wchar_t is 16 bits is never returned).
inline unsigned Utf16UnitsOf(wchar_t c) {
    if constexpr (sizeof(wchar_t) == 2) return 1;
    const auto code = static_cast<std::uint32_t>(c);
    return code > 0xFFFF && code <= 0x10FFFF ? 2 : 1;
}
// Writes the UTF-16 code units of c into out (room for 2); returns how many.
unsigned EncodeUtf16(wchar_t c, std::uint16_t* out);

// UTF-8 conversions for system calls. Both always terminate the output; WideToUtf8 returns the bytes
// written without the terminator, or 0 if the text did not fit.
std::size_t WideToUtf8(const wchar_t* text, char* out, std::size_t capacity);
void Utf8ToWide(const char* text, wchar_t* out, std::size_t capacity);

} // namespace Marvane::Performance::Detail
