#pragma once

#include "Marvane/Allocator.h"
#include "Marvane/Array.h"
#include "Marvane/Error.h"
#include "Marvane/Export.h"

#include <cstdint>

namespace Marvane::String {

// An owned, NUL-terminated wide string in allocator memory. The element count includes the NUL.
class Dynamic : public ArrayBase<wchar_t, 1> {
  public:
    // Copies `source` with its NUL. Always allocates as Generic, whatever `category` says.
    // InvalidState if the string already holds storage, OutOfMemory if none could be had. A null
    // source gives the empty string.
    MARVANE_API Error::Enum Initialize(const wchar_t* source,
                                       AllocationCategory::Enum category = AllocationCategory::Generic);
    // Copies `other` (its whole element count).
    MARVANE_API Error::Enum Initialize(const Dynamic& other,
                                       AllocationCategory::Enum category = AllocationCategory::Generic);

    void Release() { ReleaseInternal(); }

    // The text; an empty string while no storage is held.
    const wchar_t* GetString() const { return m_data != nullptr ? m_data : L""; }
    // Characters before the NUL.
    std::uint32_t GetLength() const { return m_count != 0 ? m_count - 1 : 0; }
};

// A copy of `source` (with its NUL) allocated with the given category and call site, to be released
// with GetAllocator()->Free. Null for a null source or when no memory is to be had.
MARVANE_API wchar_t* DuplicateString(const wchar_t* source, AllocationCategory::Enum category,
                                     const ContextInfo& context);

} // namespace Marvane::String
