#pragma once

namespace Marvane::Platform::Detail {

// Returns once every other thread of the process has made the writes it did before this call visible
// to the caller (each passed a full memory barrier). Pairs with a compiler-only barrier on the other
// side: a thread that writes, then reads a flag that the caller set before this call, either sees the
// flag or has its write seen by whatever the caller reads afterwards. Costly (the system interrupts the
// processors that run the process's threads); for rare events such as the start of a capture.
void ProcessWideBarrier();

} // namespace Marvane::Platform::Detail
