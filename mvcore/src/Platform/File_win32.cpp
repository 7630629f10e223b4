#include "Marvane/Platform/File.h"

#include <windows.h>

namespace Marvane::Platform {

namespace {

// Requests above 32 bits are split; a multiple of every sector size keeps unbuffered transfers aligned.
constexpr u64 MaxTransfer = 0x40000000;

bool IsUsable(void* handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// Handles are opened for overlapped I/O so that clients can stream from them asynchronously, which
// leaves the file position to us: a synchronous transfer starts at the stored position, waits for its
// completion and moves the position past what was transferred.
class PositionedTransfer {
  public:
    explicit PositionedTransfer(HANDLE file) : m_file(file) {
        m_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        LARGE_INTEGER zero{};
        m_ok = m_event != nullptr && SetFilePointerEx(m_file, zero, &m_position, FILE_CURRENT);
    }
    ~PositionedTransfer() {
        if (m_event != nullptr) CloseHandle(m_event);
    }

    // Moves up to `size` bytes with `transfer` (::ReadFile or ::WriteFile); false on an error, with
    // the count moved before it in `moved`. The end of the file is no error.
    template <typename Transfer> bool Run(Transfer transfer, DWORD size, DWORD& moved) {
        moved = 0;
        if (!m_ok) return false;
        OVERLAPPED operation{};
        operation.Offset = static_cast<DWORD>(m_position.QuadPart);
        operation.OffsetHigh = static_cast<DWORD>(static_cast<u64>(m_position.QuadPart) >> 32);
        operation.hEvent = m_event;
        ResetEvent(m_event);
        BOOL ok = transfer(m_file, size, &operation);
        if (ok || GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(m_file, &operation, &moved, TRUE);
        if (!ok && GetLastError() == ERROR_HANDLE_EOF) ok = TRUE;
        m_position.QuadPart += moved;
        return ok != FALSE;
    }

    // Leaves the file position behind everything transferred.
    bool Finish() { return m_ok && SetFilePointerEx(m_file, m_position, nullptr, FILE_BEGIN); }

  private:
    HANDLE m_file;
    HANDLE m_event = nullptr;
    LARGE_INTEGER m_position{};
    bool m_ok = false;
};

} // namespace

Error::Enum OpenFile(const wchar_t* path, bool unbuffered, bool write, void*& handle) {
    const DWORD access = write ? GENERIC_WRITE : GENERIC_READ;
    const DWORD sharing = write ? 0 : FILE_SHARE_READ;
    const DWORD disposition = write ? CREATE_ALWAYS : OPEN_EXISTING;
    DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS | FILE_FLAG_OVERLAPPED;
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
    PositionedTransfer transfer(handle);
    DWORD moved = 0;
    bool ok = transfer.Run(
        [buffer](HANDLE file, DWORD count, OVERLAPPED* operation) {
            return ::ReadFile(file, buffer, count, nullptr, operation);
        },
        size, moved);
    ok = transfer.Finish() && ok;
    read = moved;
    return ok && moved == size ? Error::Ok : Error::IO;
}

Error::Enum WriteFile(void* handle, void* buffer, u64 size) {
    if (handle == nullptr || buffer == nullptr || size == 0) return Error::InvalidParameter;
    if (handle == INVALID_HANDLE_VALUE) return Error::IO;
    PositionedTransfer transfer(handle);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    u64 done = 0;
    bool ok = true;
    while (ok && done < size) {
        const DWORD chunk = static_cast<DWORD>(size - done < MaxTransfer ? size - done : MaxTransfer);
        DWORD moved = 0;
        ok = transfer.Run(
            [bytes, done](HANDLE file, DWORD count, OVERLAPPED* operation) {
                return ::WriteFile(file, bytes + done, count, nullptr, operation);
            },
            chunk, moved);
        done += moved;
        if (moved == 0) break;
    }
    ok = transfer.Finish() && ok;
    return ok && done == size ? Error::Ok : Error::IO;
}

Error::Enum SeekFile(void* handle, u64& offset) {
    if (!IsUsable(handle) || offset > static_cast<u64>(INT64_MAX)) return Error::IO;
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) ? Error::Ok : Error::IO;
}

} // namespace Marvane::Platform
