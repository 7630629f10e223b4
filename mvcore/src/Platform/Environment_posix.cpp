#include "Platform/Environment.h"

#include "String/Utf8.h"

#include <cstdlib>

namespace Marvane::Platform::Detail {

using String::Detail::InvalidUnits;

bool ReadEnvironment(const wchar_t* name, wchar_t* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    buffer[0] = L'\0';
    char narrowName[256];
    if (!String::Detail::WideToUtf8(name, narrowName, sizeof(narrowName), InvalidUnits::Fail)) return false;
    const char* value = std::getenv(narrowName);
    if (value == nullptr || *value == '\0') return false;
    return String::Detail::Utf8ToWide(value, buffer, capacity, InvalidUnits::Fail);
}

} // namespace Marvane::Platform::Detail
