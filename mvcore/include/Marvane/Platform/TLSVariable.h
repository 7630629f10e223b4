#pragma once

#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

namespace Marvane::Platform {

// One thread-local-storage slot: every thread sees its own pointer in it (null until set). Copies
// share the slot; Destroy frees it for all of them.
// The members are exported one by one: a class-wide dllimport would make the constant below an imported
// variable, which the library does not export.
class TLSVariable {
  public:
    static constexpr u32 NoSlot = 0xFFFFFFFFu;

    TLSVariable() = default;

    // Allocates a slot; the index stays NoSlot if none is available.
    MARVANE_API void Initialize();
    // Frees the slot; the index returns to NoSlot.
    MARVANE_API void Destroy();

    MARVANE_API void* GetValue() const;
    MARVANE_API void SetValue(void* value);

    u32 GetIndex() const { return m_index; }

  private:
    u32 m_index = NoSlot;
};

} // namespace Marvane::Platform
