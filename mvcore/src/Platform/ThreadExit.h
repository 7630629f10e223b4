#pragma once

namespace Marvane::Platform::Detail {

// Calls `callback(value)` once the calling thread ends, with the value of that registration; a thread
// registers once. The process has one such callback, fixed by the first call. On POSIX systems it runs
// on the ending thread (a pthread key's destructor); on Windows, where fiber-local storage would tell of
// a fiber's end rather than the thread's, it runs on a thread of the system's pool just after the thread
// has ended (a wait on the thread's handle). A thread that ends the process (returning from main, exit)
// may not be told. Nothing is allocated through the library's allocator. False when the system has no
// room for the registration. The callback stays callable after a host unloads the library, because the
// library never leaves the process once loaded.
//
// Built on what the system offers rather than on C++ thread_local destructors, which with some Windows
// run-time libraries run after the thread's thread_local storage has already been freed.
bool CallAtThreadExit(void (*callback)(void* value), void* value);

} // namespace Marvane::Platform::Detail
