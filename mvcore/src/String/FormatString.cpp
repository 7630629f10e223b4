#include "Marvane/String.h"

#include "String/WideFormatter.h"

namespace Marvane::String {

void FormatStringTruncVA(wchar_t* destination, int capacity, const wchar_t* format, va_list arguments) {
    if (destination == nullptr || capacity < 1) return;
    const auto limit = static_cast<std::size_t>(capacity) - 1;
    if (format == nullptr)
        destination[0] = L'\0';
    else
        Detail::FormatWide(destination, limit, format, arguments);
    destination[limit] = L'\0';
}

void FormatStringTrunc(wchar_t* destination, int capacity, const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatStringTruncVA(destination, capacity, format, arguments);
    va_end(arguments);
}

} // namespace Marvane::String
