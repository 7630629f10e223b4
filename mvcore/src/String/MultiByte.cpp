#include "Marvane/String.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace Marvane::String {

bool WideCharToMultiByteTruncate(char* destination, std::uint64_t capacity, std::uint64_t& length,
                                 const wchar_t* source) {
    if (destination == nullptr || capacity == 0) return false;
    std::uint64_t used = 0;
    if (source != nullptr) {
        std::mbstate_t state{};
        char encoded[MB_LEN_MAX];
        for (const wchar_t* p = source; *p != L'\0'; ++p) {
            const std::size_t n = std::wcrtomb(encoded, *p, &state);
            if (n == static_cast<std::size_t>(-1)) {
                destination[0] = '\0';
                return false;
            }
            // A character that does not fit whole is left out rather than cut.
            if (n > capacity - 1 - used) break;
            std::memcpy(destination + used, encoded, n);
            used += n;
        }
    }
    destination[used] = '\0';
    length = used;
    return true;
}

} // namespace Marvane::String
