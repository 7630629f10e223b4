#include "Marvane/Platform/TLSVariable.h"

#include <windows.h>

namespace Marvane::Platform {

// TlsAlloc reports failure with TLS_OUT_OF_INDEXES, the same all-ones value as "no slot".
static_assert(TLS_OUT_OF_INDEXES == TLSVariable::NoSlot, "no slot and no index must agree");

void TLSVariable::Initialize() {
    m_index = TlsAlloc();
}

void TLSVariable::Destroy() {
    if (m_index != NoSlot) TlsFree(m_index);
    m_index = NoSlot;
}

void* TLSVariable::GetValue() const {
    return m_index != NoSlot ? TlsGetValue(m_index) : nullptr;
}

void TLSVariable::SetValue(void* value) {
    if (m_index != NoSlot) TlsSetValue(m_index, value);
}

} // namespace Marvane::Platform
