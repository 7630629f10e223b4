#pragma once

namespace Marvane::Platform::Detail {

// Calls `callback(value)` on the calling thread when that thread ends, with the value the thread set last.
// The process has one such callback, fixed by the first call; every thread sets its own value. A
// thread that ends the process (returning from main, exit) may not be told. Allocates nothing. False
// when the system has no room for the registration. The callback stays callable after a host unloads
// the library, because the library never leaves the process once loaded.
//
// Built on what the system offers for this (pthread keys, fiber-local storage) rather than on C++
// thread_local destructors, which with some Windows run-time libraries run after the thread's
// thread_local storage has already been freed.
bool CallAtThreadExit(void (*callback)(void* value), void* value);

} // namespace Marvane::Platform::Detail
