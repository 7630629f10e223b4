#include "LogManager/TextFormat.h"

#include "Marvane/String.h"

namespace Marvane::Detail {

void FormatTruncated(wchar_t* destination, int capacity, const wchar_t* format, va_list arguments) {
    String::FormatStringTruncVA(destination, capacity, format, arguments);
}

void FormatTruncated(wchar_t* destination, int capacity, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    String::FormatStringTruncVA(destination, capacity, format, arguments);
    va_end(arguments);
}

} // namespace Marvane::Detail
