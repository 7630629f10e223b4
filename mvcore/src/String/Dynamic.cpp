#include "Marvane/String/Dynamic.h"

#include <cstring>
#include <cwchar>

namespace Marvane::String {

Error::Enum Dynamic::Initialize(const wchar_t* source, AllocationCategory::Enum) {
    if (m_data != nullptr) return Error::InvalidState;
    if (source == nullptr) source = L"";
    const std::size_t length = std::wcslen(source);
    if (length >= 0xFFFFFFFFu) return Error::OutOfMemory;
    const Error::Enum result =
        InitializeInternal(static_cast<std::uint32_t>(length + 1), 0, AllocationCategory::Generic);
    if (result != Error::Ok) return result;
    std::memcpy(m_data, source, (length + 1) * sizeof(wchar_t));
    return Error::Ok;
}

Error::Enum Dynamic::Initialize(const Dynamic& other, AllocationCategory::Enum) {
    if (m_data != nullptr) return Error::InvalidState;
    const Error::Enum result = InitializeInternal(other.m_count, 0, AllocationCategory::Generic);
    if (result != Error::Ok) return result;
    if (other.m_count != 0) std::memcpy(m_data, other.m_data, other.m_count * sizeof(wchar_t));
    return Error::Ok;
}

wchar_t* DuplicateString(const wchar_t* source, AllocationCategory::Enum category,
                         const ContextInfo& context) {
    if (source == nullptr) return nullptr;
    const std::size_t units = std::wcslen(source) + 1;
    auto* copy = static_cast<wchar_t*>(GetAllocator()->Alloc(units * sizeof(wchar_t), category, context));
    if (copy != nullptr) std::memcpy(copy, source, units * sizeof(wchar_t));
    return copy;
}

} // namespace Marvane::String
