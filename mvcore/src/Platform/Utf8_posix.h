#pragma once

#include <cstddef>

namespace Marvane::Platform::Detail {

// Wide strings hold one code point per wchar_t on POSIX systems; a UTF-16 surrogate pair spread over
// two units is accepted as well. System calls want UTF-8.
//
// Converts `source` into `destination` with its NUL. False, with an empty destination, when the text
// holds a unit that is no Unicode scalar value or does not fit in `capacity` bytes.
bool WideToUtf8(const wchar_t* source, char* destination, std::size_t capacity);

// Appends the UTF-8 form of the code point at `source` (replacing what is no scalar value with U+FFFD)
// to `out` (at least 4 bytes); returns the number of bytes and advances `source`.
std::size_t EncodeNextUtf8(const wchar_t*& source, char* out);

} // namespace Marvane::Platform::Detail
