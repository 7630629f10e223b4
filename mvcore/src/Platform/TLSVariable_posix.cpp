#include "Marvane/Platform/TLSVariable.h"

#include <pthread.h>

namespace Marvane::Platform {

// The slot index is the pthread key; keys are small numbers, never the all-ones "no slot" value.
static_assert(sizeof(pthread_key_t) <= sizeof(u32), "a key must fit the slot index");

void TLSVariable::Initialize() {
    pthread_key_t key;
    m_index = pthread_key_create(&key, nullptr) == 0 ? static_cast<u32>(key) : NoSlot;
}

void TLSVariable::Destroy() {
    if (m_index != NoSlot) pthread_key_delete(static_cast<pthread_key_t>(m_index));
    m_index = NoSlot;
}

void* TLSVariable::GetValue() const {
    return m_index != NoSlot ? pthread_getspecific(static_cast<pthread_key_t>(m_index)) : nullptr;
}

void TLSVariable::SetValue(void* value) {
    if (m_index != NoSlot) pthread_setspecific(static_cast<pthread_key_t>(m_index), value);
}

} // namespace Marvane::Platform
