#pragma once

#include "Marvane/Export.h"

#include <cstdarg>
#include <cstdint>

// Wide-string helpers. The library's texts are wchar_t strings: 16-bit code units on Windows, 32-bit
// units elsewhere. The conversion functions move text between buffers of 16-bit and 32-bit units
// whatever wchar_t is on the platform.
namespace Marvane::String {

// Copies at most capacity - 1 units of `source` and a NUL into `destination`; returns the number of units
// copied (without the NUL). A capacity of 0 writes nothing; a null source copies an empty string.
MARVANE_API std::uint64_t CopyStringTruncate(wchar_t* destination, std::uint64_t capacity,
                                             const wchar_t* source);

// Wide printf into `destination`, keeping at most capacity - 1 characters; the element at capacity - 1 is
// always NUL, and the output ends with a NUL. The same format means the same on every platform:
//   %s, %ls, %ws, %lS   a wide string (wchar_t*)         %hs, %S, %hS   a narrow string (char*)
//   %c, %lc, %wc        a wide character                  %hc, %C        a narrow character
// Integers (%d %i %u %o %x %X with hh h l ll j z t I I32 I64), floating point (%f %F %e %E %g %G %a %A,
// with L for long double), %p and %% follow the C rules. %n is not supported and writes nothing.
// A capacity below 1 writes nothing.
MARVANE_API void FormatStringTrunc(wchar_t* destination, int capacity, const wchar_t* format, ...);
MARVANE_API void FormatStringTruncVA(wchar_t* destination, int capacity, const wchar_t* format,
                                     va_list arguments);

// Bounded byte-string comparison: at most `count` bytes, compared as unsigned values, stopping at a NUL.
// Negative, 0 or positive.
MARVANE_API int StringCompare(const char* a, const char* b, std::uint64_t count);

// Compares code units as unsigned values up to the first difference or the common NUL: -1, 0 or 1.
MARVANE_API int StringCompare(const wchar_t* a, const wchar_t* b);

// Converts `sourceCount` UTF-16 units into at most `destinationCount` code points, always leaving a
// terminating 0 inside the destination (the last code point gives way to it when the room runs out).
// False when a surrogate is unpaired. A destinationCount of 0 writes nothing and returns true.
MARVANE_API bool UTF16ToUTF32(const unsigned short* source, std::uint64_t sourceCount,
                              std::uint64_t destinationCount, unsigned int* destination);

// Widens min(sourceCount, destinationCount) 16-bit units held in `source` into 32-bit units in
// `destination` (zero-extended). No terminator is added. Source and destination may be the same buffer.
MARVANE_API void Convert2ByteWideTo4ByteWide(const wchar_t* source, std::uint64_t sourceCount,
                                             std::uint64_t destinationCount, wchar_t* destination);

// Narrows min(sourceCount, destinationCount) 32-bit units held in `source` into 16-bit units in
// `destination`, keeping the low 16 bits of each. No terminator is added. Source and destination may be
// the same buffer.
MARVANE_API void Convert4ByteWideTo2ByteWide(const wchar_t* source, std::uint64_t sourceCount,
                                             std::uint64_t destinationCount, wchar_t* destination);

// Converts with the C library's current locale into at most capacity - 1 bytes (never splitting a
// character), appends a NUL and stores the byte count in `length`. False, with `length` untouched and an
// empty destination, when a character cannot be converted; false without writing when capacity is 0 or
// the destination is null.
MARVANE_API bool WideCharToMultiByteTruncate(char* destination, std::uint64_t capacity, std::uint64_t& length,
                                             const wchar_t* source);

} // namespace Marvane::String
