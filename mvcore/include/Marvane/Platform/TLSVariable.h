#pragma once

#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

namespace Marvane::Platform {

// One thread-local-storage slot: every thread sees its own pointer in it (null until set). Copies
// share the slot; Destroy frees it for all of them.
class MARVANE_API TLSVariable {
  public:
    static constexpr u32 NoSlot = 0xFFFFFFFFu;

    TLSVariable() = default;

    // Allocates a slot; the index stays NoSlot if none is available.
    void Initialize();
    // Frees the slot; the index returns to NoSlot.
    void Destroy();

    void* GetValue() const;
    void SetValue(void* value);

    u32 GetIndex() const { return m_index; }

  private:
    u32 m_index = NoSlot;
};

} // namespace Marvane::Platform
