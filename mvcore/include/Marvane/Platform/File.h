#pragma once

#include "Marvane/Error.h"
#include "Marvane/Export.h"
#include "Marvane/Platform/Types.h"

// Synchronous file access. A handle is an untyped pointer; an unopened or failed handle has all bits
// set (InvalidFileHandle()). On Windows the handle is an ordinary synchronous file handle (opened without
// FILE_FLAG_OVERLAPPED): a client may hand it to its own synchronous ReadFile, WriteFile or
// SetFilePointerEx calls, which share the position with the functions below, but not to overlapped
// operations. On POSIX systems it holds a file descriptor.
namespace Marvane::Platform {

inline void* InvalidFileHandle() {
    return reinterpret_cast<void*>(~static_cast<std::uintptr_t>(0));
}

// Opens `path` for reading (existing files only, others may read it too) or for writing (created or
// truncated, nobody else may open it meanwhile). With `unbuffered` the system cache is bypassed and
// every buffer, size and offset must be a multiple of GetDeviceBlockSize. The handle is stored even on
// failure (then InvalidFileHandle()). Returns IO if the file could not be opened.
//
// On POSIX systems the Windows sharing rules are kept with advisory locks (flock): a reader holds a
// shared lock, a writer an exclusive one, both taken without waiting, so among users of this library a
// writer excludes every other open of the file and readers exclude writers, as on Windows. Programs that
// do not take such locks are not kept out.
MARVANE_API Error::Enum OpenFile(const wchar_t* path, bool unbuffered, bool write, void*& handle);

// Closes a handle; a null or invalid handle is ignored. Always Ok.
MARVANE_API Error::Enum CloseFile(void* handle);

// Reads up to `size` bytes at the current position and advances it by the count read, which is stored
// in `read`. Ok only when exactly `size` bytes were read; a short read at the end of the file is IO.
MARVANE_API Error::Enum ReadFile(void* handle, void* buffer, u32 size, u32& read);

// Writes `size` bytes at the current position and advances it. A null handle, a null buffer or a size
// of 0 is InvalidParameter (the file is not touched); IO unless every byte was written.
MARVANE_API Error::Enum WriteFile(void* handle, void* buffer, u64 size);

// Moves the position to `offset` bytes from the start of the file (the reference is only read).
MARVANE_API Error::Enum SeekFile(void* handle, u64& offset);

// The physical sector size of the volume that holds `path` (the logical one where only that is
// known), for aligning unbuffered transfers. On Windows `path` must begin with a drive letter and a
// colon, otherwise InvalidParameter; on POSIX systems any existing path, or a path whose nearest existing
// parent directory lies on the volume, will do. IO if no block device or size can be found; `size` is
// then left unchanged.
MARVANE_API Error::Enum GetDeviceBlockSize(const wchar_t* path, u32& size);

} // namespace Marvane::Platform
