#include "Platform/Environment.h"

#include <windows.h>

namespace Marvane::Platform::Detail {

bool ReadEnvironment(const wchar_t* name, wchar_t* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    buffer[0] = L'\0';
    const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(capacity));
    buffer[capacity - 1] = L'\0';
    if (length == 0 || length >= capacity) {
        // Missing, empty, or too long for the buffer (then nothing was copied).
        buffer[0] = L'\0';
        return false;
    }
    return true;
}

} // namespace Marvane::Platform::Detail
