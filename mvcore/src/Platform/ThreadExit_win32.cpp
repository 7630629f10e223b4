#include "Platform/ThreadExit.h"

#include <atomic>
#include <windows.h>

namespace Marvane::Platform::Detail {

namespace {

// The callback lives in this library, and a thread may end after the host has freed the library's last
// user: the library stays loaded until the process ends, as the POSIX build (linked "nodelete") does.
// Pinned while it loads, so FreeLibrary never unmaps it whether or not a thread has counted yet.
bool KeepLibraryLoaded() {
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&KeepLibraryLoaded), &self) != FALSE;
}
[[maybe_unused]] const bool pinned = KeepLibraryLoaded();

std::atomic<void (*)(void*)> exitCallback{nullptr};

// One ending thread being waited for. Fiber-local storage would tell of a fiber's end instead (a fiber
// may be deleted on any thread while the thread that counted goes on), so the thread's own handle is
// waited on: it is signalled once the thread has ended, whatever fibers it ran.
struct Watch {
    HANDLE thread;
    HANDLE wait;
    void* value;
};

VOID CALLBACK OnThreadEnded(PVOID context, BOOLEAN) {
    auto* watch = static_cast<Watch*>(context);
    exitCallback.load()(watch->value);
    // The non-blocking form is the one allowed inside the callback; the wait ran once and is over.
    UnregisterWait(watch->wait);
    CloseHandle(watch->thread);
    HeapFree(GetProcessHeap(), 0, watch);
}

} // namespace

bool CallAtThreadExit(void (*callback)(void* value), void* value) {
    void (*expected)(void*) = nullptr;
    exitCallback.compare_exchange_strong(expected, callback);
    // From the process heap: the library's allocator counts through the very counters being set up.
    auto* watch = static_cast<Watch*>(HeapAlloc(GetProcessHeap(), 0, sizeof(Watch)));
    if (watch == nullptr) return false;
    watch->value = value;
    watch->wait = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &watch->thread,
                         SYNCHRONIZE, FALSE, 0)) {
        HeapFree(GetProcessHeap(), 0, watch);
        return false;
    }
    // The calling thread is running, so the callback cannot come before `wait` is stored.
    if (!RegisterWaitForSingleObject(&watch->wait, watch->thread, OnThreadEnded, watch, INFINITE,
                                     WT_EXECUTEONLYONCE | WT_EXECUTEDEFAULT)) {
        CloseHandle(watch->thread);
        HeapFree(GetProcessHeap(), 0, watch);
        return false;
    }
    return true;
}

} // namespace Marvane::Platform::Detail
