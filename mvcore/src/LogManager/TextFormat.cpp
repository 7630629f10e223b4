#include "LogManager/TextFormat.h"

#include <cwchar>

namespace Marvane::Detail {

// Stand-in until the library's own truncating formatter is part of the build.
void FormatTruncated(wchar_t* destination, int capacity, const wchar_t* format, va_list arguments) {
    if (capacity < 1) return;
    std::vswprintf(destination, static_cast<std::size_t>(capacity), format, arguments);
    destination[capacity - 1] = L'\0';
}

void FormatTruncated(wchar_t* destination, int capacity, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatTruncated(destination, capacity, format, arguments);
    va_end(arguments);
}

} // namespace Marvane::Detail
