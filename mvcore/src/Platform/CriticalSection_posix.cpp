#include "Marvane/Platform/CriticalSection.h"

#include <new>
#include <pthread.h>

namespace Marvane::Platform {

// A recursive mutex: the owner may lock it again, like a Windows critical section. There is no spin
// count to set; glibc's mutexes already spin briefly in user space before sleeping.
namespace {

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16,
              "the inline storage must hold the system lock");

pthread_mutex_t* Lock(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

} // namespace

CriticalSection::CriticalSection() {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (m_lock) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

CriticalSection::~CriticalSection() {
    pthread_mutex_destroy(Lock(m_lock));
}

void CriticalSection::Enter() {
    if (pthread_mutex_trylock(Lock(m_lock)) != 0) pthread_mutex_lock(Lock(m_lock));
}

bool CriticalSection::TryEnter() {
    return pthread_mutex_trylock(Lock(m_lock)) == 0;
}

void CriticalSection::Leave() {
    pthread_mutex_unlock(Lock(m_lock));
}

} // namespace Marvane::Platform
