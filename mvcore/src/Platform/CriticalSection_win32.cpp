#include "Marvane/Platform/CriticalSection.h"

#include <new>
#include <windows.h>

namespace Marvane::Platform {

namespace {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16,
              "the inline storage must hold the system lock");

// Spinning this often before sleeping covers the short holds of the library's locks.
constexpr DWORD SpinCount = 1000;

CRITICAL_SECTION* Lock(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

} // namespace

CriticalSection::CriticalSection() {
    InitializeCriticalSectionAndSpinCount(new (m_lock) CRITICAL_SECTION, SpinCount);
}

CriticalSection::~CriticalSection() {
    DeleteCriticalSection(Lock(m_lock));
}

void CriticalSection::Enter() {
    if (!TryEnterCriticalSection(Lock(m_lock))) EnterCriticalSection(Lock(m_lock));
}

bool CriticalSection::TryEnter() {
    return TryEnterCriticalSection(Lock(m_lock)) != FALSE;
}

void CriticalSection::Leave() {
    LeaveCriticalSection(Lock(m_lock));
}

} // namespace Marvane::Platform
