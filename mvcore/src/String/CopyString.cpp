#include "Marvane/String.h"

namespace Marvane::String {

std::uint64_t CopyStringTruncate(wchar_t* destination, std::uint64_t capacity, const wchar_t* source) {
    if (destination == nullptr || capacity == 0) return 0;
    std::uint64_t copied = 0;
    if (source != nullptr)
        for (; copied < capacity - 1 && source[copied] != L'\0'; ++copied)
            destination[copied] = source[copied];
    destination[copied] = L'\0';
    return copied;
}

} // namespace Marvane::String
