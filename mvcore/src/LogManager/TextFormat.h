#pragma once

#include <cstdarg>

namespace Marvane::Detail {

// Wide printf into `destination`, keeping at most capacity - 1 characters and always ending with NUL.
void FormatTruncated(wchar_t* destination, int capacity, const wchar_t* format, va_list arguments);

void FormatTruncated(wchar_t* destination, int capacity, const wchar_t* format, ...);

} // namespace Marvane::Detail
