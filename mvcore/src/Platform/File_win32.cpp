#include "Marvane/Platform/File.h"

#include <windows.h>

namespace Marvane::Platform {

namespace {

// Requests above 32 bits are split; a multiple of every sector size keeps unbuffered transfers aligned.
constexpr u64 MaxTransfer = 0x40000000;

bool IsUsable(void* handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

Error::Enum OpenFile(const wchar_t* path, bool unbuffered, bool write, void*& handle) {
    const DWORD access = write ? GENERIC_WRITE : GENERIC_READ;
    const DWORD sharing = write ? 0 : FILE_SHARE_READ;
    const DWORD disposition = write ? CREATE_ALWAYS : OPEN_EXISTING;
    // Synchronous handles: the system keeps the position, and a client may use the handle with its own
    // synchronous ReadFile and WriteFile calls.
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS;
    if (unbuffered) flags |= FILE_FLAG_NO_BUFFERING;
    handle = path != nullptr ? CreateFileW(path, access, sharing, nullptr, disposition, flags, nullptr)
                             : INVALID_HANDLE_VALUE;
    return handle == INVALID_HANDLE_VALUE ? Error::IO : Error::Ok;
}

Error::Enum CloseFile(void* handle) {
    if (IsUsable(handle)) CloseHandle(handle);
    return Error::Ok;
}

Error::Enum ReadFile(void* handle, void* buffer, u32 size, u32& read) {
    read = 0;
    if (!IsUsable(handle) || (buffer == nullptr && size != 0)) return Error::IO;
    DWORD moved = 0;
    const BOOL ok = ::ReadFile(handle, buffer, size, &moved, nullptr);
    read = moved;
    return ok && moved == size ? Error::Ok : Error::IO;
}

Error::Enum WriteFile(void* handle, void* buffer, u64 size) {
    if (handle == nullptr || buffer == nullptr || size == 0) return Error::InvalidParameter;
    if (handle == INVALID_HANDLE_VALUE) return Error::IO;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    u64 done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(size - done < MaxTransfer ? size - done : MaxTransfer);
        DWORD moved = 0;
        if (!::WriteFile(handle, bytes + done, chunk, &moved, nullptr) || moved == 0) break;
        done += moved;
    }
    return done == size ? Error::Ok : Error::IO;
}

Error::Enum SeekFile(void* handle, u64& offset) {
    if (!IsUsable(handle) || offset > static_cast<u64>(INT64_MAX)) return Error::IO;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) ? Error::Ok : Error::IO;
}

} // namespace Marvane::Platform
