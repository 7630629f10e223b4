#include "Platform/ThreadExit.h"

#include <atomic>
#include <pthread.h>

namespace Marvane::Platform::Detail {

namespace {

pthread_key_t key;
bool keyCreated = false;
pthread_once_t createOnce = PTHREAD_ONCE_INIT;
std::atomic<void (*)(void*)> exitCallback{nullptr};

void OnThreadExit(void* value) {
    exitCallback.load()(value);
}

void CreateKey() {
    keyCreated = pthread_key_create(&key, OnThreadExit) == 0;
}

} // namespace

bool CallAtThreadExit(void (*callback)(void* value), void* value) {
    void (*expected)(void*) = nullptr;
    exitCallback.compare_exchange_strong(expected, callback);
    pthread_once(&createOnce, CreateKey);
    return keyCreated && pthread_setspecific(key, value) == 0;
}

} // namespace Marvane::Platform::Detail
