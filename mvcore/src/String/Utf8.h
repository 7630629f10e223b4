#pragma once

// The library's one UTF-8 converter, for the system calls of POSIX systems (paths, environment
// variables, standard error). Wide strings hold one code point per wchar_t where wchar_t has 32 bits;
// a UTF-16 surrogate pair spread over two units is accepted as well, and where wchar_t has 16 bits the
// text is UTF-16.
//
// Two rules for what is not valid Unicode (a lone surrogate, a unit beyond U+10FFFF, a damaged UTF-8
// sequence): a path fails, because a path with U+FFFD in place of the damaged part names another file;
// a text shown to a person gets U+FFFD instead, so that the rest of the message survives.

#include <cstddef>

namespace Marvane::String::Detail {

enum class InvalidUnits {
    Fail,       // paths and names: the conversion fails
    Substitute, // texts: each invalid unit or sequence becomes U+FFFD
};

// Converts `source` with its NUL into at most `capacity` bytes. False, with an empty destination (when
// there is room for one), when the text does not fit or, with InvalidUnits::Fail, holds a unit that is no
// Unicode scalar value. A null source fails.
bool WideToUtf8(const wchar_t* source, char* destination, std::size_t capacity, InvalidUnits invalid);

// The UTF-8 form of the code point at `source`, U+FFFD for a unit that is no scalar value, into `out`
// (room for 4 bytes); returns the number of bytes and advances `source` past what it read. For texts
// written piece by piece without a buffer for the whole.
std::size_t EncodeNextUtf8(const wchar_t*& source, char* out);

// Converts UTF-8 with its NUL into at most `capacity` wide characters (surrogate pairs where wchar_t has
// 16 bits). Overlong forms, encoded surrogates and values beyond U+10FFFF are invalid. False, with an
// empty destination, when the text does not fit or, with InvalidUnits::Fail, is not valid UTF-8.
bool Utf8ToWide(const char* source, wchar_t* destination, std::size_t capacity, InvalidUnits invalid);

} // namespace Marvane::String::Detail
