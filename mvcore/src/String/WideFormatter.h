#pragma once

#include <cstdarg>
#include <cstddef>

namespace Marvane::String::Detail {

// Formats `format` into `destination`, keeping at most `limit` characters, and terminates the output.
// `destination` must hold limit + 1 elements. One meaning for every platform: plain %s and %c take wide
// arguments, %hs/%S and %hc/%C narrow ones (the Windows reading of wide formats).
void FormatWide(wchar_t* destination, std::size_t limit, const wchar_t* format, va_list arguments);

} // namespace Marvane::String::Detail
