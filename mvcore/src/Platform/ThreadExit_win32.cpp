#include "Platform/ThreadExit.h"

#include <atomic>
#include <windows.h>

namespace Marvane::Platform::Detail {

namespace {

// Fiber-local storage: its callback runs on the ending thread, before the thread's other storage goes.
std::atomic<void (*)(void*)> exitCallback{nullptr};
std::atomic<DWORD> flsIndex{FLS_OUT_OF_INDEXES};
INIT_ONCE createOnce = INIT_ONCE_STATIC_INIT;

VOID WINAPI OnThreadExit(PVOID value) {
    if (value != nullptr) exitCallback.load()(value);
}

// The callback lives in this library, and a thread may end after the host has freed the library's last
// user: the library stays loaded until the process ends, as the POSIX build (linked "nodelete") does.
// Pinned while it loads, so FreeLibrary never unmaps it whether or not a thread has counted yet.
bool KeepLibraryLoaded() {
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&KeepLibraryLoaded), &self) != FALSE;
}
[[maybe_unused]] const bool pinned = KeepLibraryLoaded();

BOOL CALLBACK CreateIndex(PINIT_ONCE, PVOID, PVOID*) {
    flsIndex.store(FlsAlloc(OnThreadExit));
    return TRUE;
}

} // namespace

bool CallAtThreadExit(void (*callback)(void* value), void* value) {
    void (*expected)(void*) = nullptr;
    exitCallback.compare_exchange_strong(expected, callback);
    InitOnceExecuteOnce(&createOnce, CreateIndex, nullptr, nullptr);
    const DWORD index = flsIndex.load();
    return index != FLS_OUT_OF_INDEXES && FlsSetValue(index, value) != FALSE;
}

} // namespace Marvane::Platform::Detail
