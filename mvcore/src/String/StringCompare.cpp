#include "Marvane/String.h"

#include <type_traits>

namespace Marvane::String {

// A null pointer orders like an empty string.
int StringCompare(const char* a, const char* b, std::uint64_t count) {
    const auto* x = reinterpret_cast<const unsigned char*>(a != nullptr ? a : "");
    const auto* y = reinterpret_cast<const unsigned char*>(b != nullptr ? b : "");
    for (std::uint64_t i = 0; i < count; ++i) {
        if (x[i] != y[i]) return static_cast<int>(x[i]) - static_cast<int>(y[i]);
        if (x[i] == 0) break;
    }
    return 0;
}

int StringCompare(const wchar_t* a, const wchar_t* b) {
    using Unit = std::make_unsigned_t<wchar_t>;
    const wchar_t* x = a != nullptr ? a : L"";
    const wchar_t* y = b != nullptr ? b : L"";
    for (;; ++x, ++y) {
        const auto u = static_cast<Unit>(*x);
        const auto v = static_cast<Unit>(*y);
        if (u != v) return u < v ? -1 : 1;
        if (u == 0) return 0;
    }
}

} // namespace Marvane::String
